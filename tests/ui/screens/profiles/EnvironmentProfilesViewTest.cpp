#include "ProfilesFixture.h"

#include "platform/KeychainError.h"
#include "records/RecordsTestSupport.h"
#include "ui/components/KeychainAccessBanner.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/profiles/ProfilesListModel.h"
#include "ui/screens/profiles/ProfilesListView.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

struct EnvironmentProfilesViewTest : ProfilesFixture {
    std::unique_ptr<EnvironmentProfilesView> show(std::optional<QUuid> selection = std::nullopt)
    {
        auto view = std::make_unique<EnvironmentProfilesView>(&manager, &lockManager, nullptr, selection);
        view->resize(1000, 640);
        view->show();
        QCoreApplication::processEvents();
        return view;
    }
};

} // namespace

TEST_F(EnvironmentProfilesViewTest, ADanglingSelectionShowsTheEmptyStateAndAClickOnEmptySpaceClearsIt)
{
    const auto profile = stored(QStringLiteral("Only"));
    auto view = show(QUuid::createUuid());
    EXPECT_NE(view->findChild<QWidget *>(QStringLiteral("emptyState")), nullptr);
    EXPECT_TRUE(view->controller().selectedProfileID());

    auto *list = view->findChild<ProfilesListView *>();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
    EXPECT_EQ(view->controller().selectedProfileID(), profile.id);
    ASSERT_TRUE(waitUntil([&] { return view->findChild<QWidget *>(QStringLiteral("profileDetail")) != nullptr; }));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, list->viewport()->height() - 10));
    EXPECT_FALSE(view->controller().selectedProfileID());
}

TEST_F(EnvironmentProfilesViewTest, ACancelledPromptShowsNoAlertAndAKeyringFailureShowsAlertAndBanner)
{
    const auto locked =
        storedLocked(QStringLiteral("Vault"), {variable(QStringLiteral("TOKEN"), QStringLiteral("x"), true)});
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    auto view = show(locked.id);
    ASSERT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(view->errorAlert(), nullptr);
    EXPECT_NE(view->findChild<QPushButton *>(QStringLiteral("unlockButton")), nullptr);

    const KeychainError denied(KeychainError::Case::authFailed);
    authenticator->failure.reset();
    secrets->failOn(FakeSecretStore::Operation::read, denied);
    view->findChild<QPushButton *>(QStringLiteral("unlockButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return view->errorAlert() != nullptr; }));
    EXPECT_EQ(view->errorAlert()->message(), denied.fullMessage());
    auto *banner = view->findChild<KeychainAccessBanner *>();
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisibleTo(view.get()));
    EXPECT_EQ(banner->message(), denied.fullMessage());

    // The banner's retry loads again; without the failure the banner goes.
    secrets->clearFailures();
    view->errorAlert()->close();
    QTest::mouseClick(banner->findChild<QPushButton *>(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !manager.keychainAccessGuidance(); }));
    EXPECT_FALSE(banner->isVisibleTo(view.get()));
    EXPECT_FALSE(view->controller().errorMessage());
}

TEST_F(EnvironmentProfilesViewTest, ACancelledPromptWhileSavingANewProtectedProfileKeepsTheEditorAndItsDraft)
{
    // A protected profile exists and protected data is locked: a new
    // protected profile asks for the password when it is saved.
    storedLocked(QStringLiteral("Vault"), {variable(QStringLiteral("TOKEN"), QStringLiteral("x"), true)});
    auto view = show();
    view->controller().createProfile();
    ASSERT_TRUE(waitUntil([&] { return view->editor() != nullptr; }));
    ASSERT_NE(view->editor(), nullptr);
    ProfileEditorView &editor = *view->editor();
    QPointer<ProfileEditorView> open = &editor;
    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("nameField"));
    name->insert(QStringLiteral("Staging 🚀"));
    editor.findChild<QCheckBox *>(QStringLiteral("protectedToggle"))->setChecked(true);

    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    editor.save();
    ASSERT_TRUE(waitUntil([&] { return !authenticator->prompts.isEmpty() && !editor.isSaving(); }));
    QCoreApplication::processEvents();
    ASSERT_FALSE(open.isNull());
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(name->text(), QStringLiteral("Staging 🚀"));
    EXPECT_EQ(view->errorAlert(), nullptr);
    EXPECT_EQ(manager.profiles().size(), 1);

    // Saved once the prompt is answered: the sheet closes, the profile is stored as typed.
    authenticator->failure.reset();
    editor.save();
    ASSERT_TRUE(waitUntil([&] {
        const QWidget *sheet = open.data();
        return !sheet || sheet->isHidden();
    }));
    ASSERT_EQ(manager.profiles().size(), 2);
    EXPECT_TRUE(std::any_of(manager.profiles().cbegin(), manager.profiles().cend(), [](const EnvironmentProfile &p) {
        return p.name == QStringLiteral("Staging 🚀") && p.isProtected;
    }));
}

TEST_F(EnvironmentProfilesViewTest, AnAssistiveTechnologySelectsAProfileAndTheSearchNeverChangesTheSelection)
{
    const auto alpha = stored(QStringLiteral("Alpha"));
    const auto beta = stored(QStringLiteral("Beta"));
    auto view = show();
    auto *list = view->findChild<ProfilesListView *>();
    const auto rowOf = [&](const EnvironmentProfile &profile) {
        return static_cast<ProfilesListModel *>(list->model())->indexOf(profile.id).row();
    };
    const auto selectedRows = [&] { return list->selectionModel()->selectedRows(); };
    QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(list)->tableInterface();
    ASSERT_NE(table, nullptr);

    QAccessibleInterface *betaCell = table->cellAt(rowOf(beta), 0);
    betaCell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(view->controller().selectedProfileID(), beta.id);
    EXPECT_TRUE(table->cellAt(rowOf(beta), 0)->state().selected);
    EXPECT_FALSE(table->cellAt(rowOf(alpha), 0)->state().selected);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(view->controller().selectedProfileID(), alpha.id);

    // A search that hides the selected profile leaves it selected, and it
    // shows selected again when the search lets it back in.
    view->controller().setSearchText(QStringLiteral("Beta"));
    EXPECT_TRUE(selectedRows().isEmpty());
    EXPECT_EQ(view->controller().selectedProfileID(), alpha.id);
    view->controller().setSearchText(QString());
    ASSERT_EQ(selectedRows().size(), 1);
    EXPECT_EQ(selectedRows().constFirst().row(), rowOf(alpha));
    EXPECT_EQ(view->controller().selectedProfileID(), alpha.id);
}

TEST_F(EnvironmentProfilesViewTest, AfterADeleteTheFocusGoesToTheListOrCreateProfileWhenNoneIsLeft)
{
    const EnvironmentProfile made[] {stored(QStringLiteral("First")), stored(QStringLiteral("Second"))};
    for (const EnvironmentProfile &profile : made) {
        const bool lastOne = &profile == &made[1];
        SCOPED_TRACE(lastOne);
        auto view = show(profile.id);
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        QPushButton *edit = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (edit = view->findChild<QPushButton *>(QStringLiteral("editButton"))); }));
        edit->setFocus(Qt::TabFocusReason);
        view->controller().deleteProfile(profile);
        ASSERT_TRUE(waitUntil([&] { return view->findChild<QWidget *>(QStringLiteral("emptyState")) != nullptr; }));
        QWidget *expected = lastOne ? view->findChild<QWidget *>(QStringLiteral("createProfileButton"))
                                    : view->findChild<ProfilesListView *>();
        EXPECT_EQ(QApplication::focusWidget(), expected);
    }
}

// A secret read from an older keyring item is told once, when the screen is shown, whatever loads come around it.
TEST_F(EnvironmentProfilesViewTest, ARecoveredSecretIsToldOnceWhenTheScreenShows)
{
    EnvironmentProfile alpha =
        stored(QStringLiteral("Alpha"), {variable(QStringLiteral("TOKEN"), QStringLiteral("first"), true)});
    alpha.variables[0].value = QStringLiteral("second");
    await(manager.saveProfile(alpha)); // its item now has a generation, which the file then loses
    const QString path = records_test::dataFile(QStringLiteral("environments.json"));
    records_test::writeFile(path, records_test::readFile(path).replace("\"secretGeneration\"", "\"secretGenerat1on\""));
    await(manager.reload());

    auto view = show();
    ASSERT_TRUE(waitUntil([&] { return view->recoveryNotice() != nullptr; }));
    EXPECT_EQ(view->recoveryNotice()->message(),
              QStringLiteral("The value of TOKEN in “Alpha” was recovered from an older keyring item. Check it and "
                             "save the profile."));
    view->recoveryNotice()->close();
    ASSERT_TRUE(waitUntil([&] { return view->recoveryNotice() == nullptr; }));

    await(manager.reload());
    view->hide();
    view->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->recoveryNotice(), nullptr);
}
