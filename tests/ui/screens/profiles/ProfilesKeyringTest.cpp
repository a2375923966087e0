#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ApplicationSupport.h"
#include "support/Await.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeTerminalLauncher.h"
#include "support/KeyringTestLock.h"
#include "support/ManagerStack.h"
#include "support/StoredProtectedProfile.h"
#include "ui/components/MacTextField.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/profiles/ProfileEditorVariableRow.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Every text a person or a screen reader could get from the widgets.
QStringList visibleTexts(const QWidget &root)
{
    QStringList texts;
    for (const QWidget *widget : root.findChildren<QWidget *>()) {
        texts << widget->toolTip() << widget->accessibleName() << widget->accessibleDescription();
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            texts << label->text();
    }
    return texts;
}

bool dataFolderContains(const QByteArray &needle)
{
    QDirIterator files(applicationSupportDirectory(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            return true;
    }
    return false;
}

} // namespace

TEST(ProfilesKeyring, ProtectedSecretRoundTripThroughTheScreen)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock keyring;
    auto authenticator = std::make_shared<FakeAuthenticator>();
    ManagerStack stack({nullptr, authenticator, nullptr, std::make_shared<FakeTerminalLauncher>()});
    EnvironmentProfilesView view(&stack.profiles, &stack.lockManager);
    view.resize(1000, 640);
    view.show();

    // Create a protected profile with one secret.
    QTest::mouseClick(view.findChild<QPushButton *>(QStringLiteral("createProfileButton")), Qt::LeftButton);
    ProfileEditorView *editor = view.editor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("nameField")), QStringLiteral("Vault"));
    editor->findChild<QCheckBox *>(QStringLiteral("protectedToggle"))->setChecked(true);
    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("addVariableButton")), Qt::LeftButton);
    auto *row = editor->findChild<ProfileEditorVariableRow *>();
    QTest::keyClicks(row->keyField(), QStringLiteral("TOKEN"));
    QTest::mouseClick(row->secretToggle(), Qt::LeftButton);
    QTest::keyClicks(row->valueField(), QStringLiteral("first-secret"));
    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return view.controller().selectedProfile().has_value(); }));
    const EnvironmentProfile created = *view.controller().selectedProfile();
    // The first value keeps the plain item; the edited one goes to generation 1.
    const QString account = EnvironmentProfilesRepository::secretAccount(created.id, created.variables.first().id, 1);

    // Lock, then unlock from the detail through the prompt.
    stack.lockManager.lock();
    ASSERT_TRUE(waitUntil([&] { return view.findChild<QPushButton *>(QStringLiteral("unlockButton")) != nullptr; }));
    authenticator->prompts.clear();
    view.findChild<QPushButton *>(QStringLiteral("unlockButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return !view.controller().isLocked(created.id); }));
    ASSERT_TRUE(waitUntil([&] { return view.findChild<QPushButton *>(QStringLiteral("editButton")) != nullptr; }));
    EXPECT_EQ(authenticator->prompts.size(), 1);
    auto *value = view.findChild<QLabel *>(QStringLiteral("variableValue"));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->text(), QStringLiteral("••••••••"));
    EXPECT_FALSE(visibleTexts(view).join(QLatin1Char('\n')).contains(QStringLiteral("first-secret")));

    // Edit the secret.
    view.findChild<QPushButton *>(QStringLiteral("editButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return view.editor() != nullptr; }));
    row = view.editor()->findChild<ProfileEditorVariableRow *>();
    EXPECT_EQ(row->valueField()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(visibleTexts(*view.editor()).join(QLatin1Char('\n')).contains(QStringLiteral("first-secret")));
    row->valueField()->selectAll();
    QTest::keyClicks(row->valueField(), QStringLiteral("second-secret"));
    QTest::mouseClick(view.editor()->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    ASSERT_TRUE(
        waitUntil([&] { return KeychainSecretStore().readSecret(account) == QStringLiteral("second-secret"); }));
    EXPECT_FALSE(view.controller().errorMessage());
    EXPECT_FALSE(dataFolderContains("second-secret"));
    EXPECT_FALSE(dataFolderContains("first-secret"));
}

// Opened after a restart and shown by the detail, then locked: no copy of a value is left in memory.
TEST(ProfilesKeyring, ALockLeavesNoCopyOfTheValuesTheDetailShowed)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    auto keys = std::make_shared<FakeProtectedKeyProvider>();
    ManagerStack stack(
        {nullptr, std::make_shared<FakeAuthenticator>(), keys, std::make_shared<FakeTerminalLauncher>()});
    const StoredProtectedProfile stored;
    KeychainSecretStore keyring;
    stored.store(stack.profilesRepository.fileURL(), keys->sampleKey(), keyring);
    await(stack.profiles.reload());

    EnvironmentProfilesView view(&stack.profiles, &stack.lockManager, nullptr, stored.id);
    view.resize(1000, 640);
    view.show();
    ASSERT_TRUE(waitUntil([&] { return view.findChildren<QLabel *>(QStringLiteral("variableValue")).size() == 2; }));
    view.grab(); // drawn, as a person sees it
    ASSERT_FALSE(StoredProtectedProfile::valueCopies().isEmpty());

    stack.lockManager.lock();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the detail that showed them
    EXPECT_EQ(StoredProtectedProfile::valueCopiesLeft().toStdString(), "");
}
