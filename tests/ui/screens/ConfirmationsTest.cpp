#include "execution/ServiceManagerFixture.h"
#include "services/ButtonLookup.h"

#include "records/SecurityScopedBookmarkStore.h"
#include "records/SettingsRepository.h"
#include "support/Screenshots.h"
#include "ui/components/ThemeManager.h"
#include "ui/components/TitledMessageBox.h"
#include "ui/screens/profiles/ProfileEditorVariableRow.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"
#include "ui/screens/settings/SettingsView.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <functional>

namespace {

struct ConfirmationsTest : ServiceManagerTest {
    SecurityScopedBookmarkStore bookmarks {folder + QStringLiteral("/bookmarks.json")};
    SettingsRepository settingsRepository {folder + QStringLiteral("/settings.json")};
    AppSettings currentSettings;
    int serviceDeletes = 0;
    int profileDeletes = 0;
    ServicesController servicesController {manager, profiles, lockManager, history, &bookmarks};
    ProfilesController profilesController {profiles, lockManager};
    std::unique_ptr<ServicesView> services;
    std::unique_ptr<ServiceEditorView> serviceEditor;
    std::unique_ptr<ProfileEditorView> profileEditor;
    std::unique_ptr<SettingsView> settingsView;

    std::unique_ptr<ServiceEditorView> serviceEditorFor(ServiceEditorMode mode, ManagedService draft)
    {
        auto editor = std::make_unique<ServiceEditorView>(std::move(mode), std::move(draft), servicesController);
        QObject::connect(editor.get(), &ServiceEditorView::deleteRequested, [this] { ++serviceDeletes; });
        return editor;
    }

    ServicesView &servicesView()
    {
        if (!services) {
            services = std::make_unique<ServicesView>(manager, profiles, lockManager, history, &bookmarks);
            services->resize(1100, 720);
            services->show();
        }
        return *services;
    }

    ProfileEditorView &editorOfProfileWithOneVariable()
    {
        const EnvironmentProfile profile {
            QUuid::createUuid(), QStringLiteral("P"), {variable("PATH", "/bin")}, false, {}, {}};
        profileEditor = std::make_unique<ProfileEditorView>(ProfileEditorMode::edit(profile), profilesController);
        QObject::connect(profileEditor.get(), &ProfileEditorView::deleteRequested, [this] { ++profileDeletes; });
        profileEditor->show();
        return *profileEditor;
    }

    // One service to force-terminate and one with a run to clear.
    std::pair<ManagedService, ManagedService> prepare()
    {
        const ManagedService idle = addService(QStringLiteral("idle"), QStringLiteral("sleep 300"));
        const ManagedService finished = addService(QStringLiteral("finished"), QStringLiteral("echo done"));
        await(manager.start(finished.id));
        waitForStopped(finished.id);
        // Any shell but the default one, so that there is something to reset.
        currentSettings.defaultShell = AppSettings::defaultShellPath() == QStringLiteral("/bin/bash")
                                           ? QStringLiteral("/bin/sh")
                                           : QStringLiteral("/bin/bash");
        return {idle, finished};
    }

    static QPushButton *button(QMessageBox &box, const QString &text)
    {
        for (QAbstractButton *candidate : box.buttons()) {
            if (candidate->text() == text)
                return qobject_cast<QPushButton *>(candidate);
        }
        return nullptr;
    }

    static QMessageBox *openBox(QWidget &parent)
    {
        for (QMessageBox *box : parent.findChildren<QMessageBox *>()) {
            if (box->isVisible())
                return box;
        }
        return nullptr;
    }

    static bool showsTitleInItsBody(QMessageBox &box, const QString &title)
    {
        const QList<QLabel *> labels = box.findChildren<QLabel *>();
        return std::count_if(labels.cbegin(), labels.cend(),
                             [&](const QLabel *label) {
                                 return label->isVisible() && label->text() == title && label->font().bold();
                             })
               == 1;
    }
};

struct Confirmation {
    QString title;
    QString destructiveButton;
    std::function<QMessageBox *(ConfirmationsTest &)> open;
    std::function<bool(ConfirmationsTest &)> destroyed;
};

// Every destructive confirmation: how it opens and what it destroys. The
// services are one running (or ready to run) and one with a recorded run.
std::vector<Confirmation> destructiveConfirmations(const ManagedService &idle, const ManagedService &finished)
{
    return {
        {QStringLiteral("Force Terminate?"), QStringLiteral("Force Terminate"),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             if (!t.running(idle.id))
                 await(t.manager.start(idle.id));
             t.servicesView().controller().requestForceKill(idle);
             return ConfirmationsTest::openBox(*t.services);
         },
         [=](ConfirmationsTest &t) { return !t.running(idle.id); }},
        {QStringLiteral("Clear run history?"), QStringLiteral("Clear All"),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             t.servicesView().selectService(finished.id);
             auto *section = t.services->findChild<ServiceRunHistorySection *>();
             section->setExpanded(true);
             t.services->findChild<QPushButton *>(QStringLiteral("clearAllButton"))->click();
             return section->clearConfirmation();
         },
         [=](ConfirmationsTest &t) { return t.history.records(finished.id).isEmpty(); }},
        {QStringLiteral("Delete Service?"), QStringLiteral("Delete"),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             t.serviceEditor = t.serviceEditorFor(ServiceEditorMode::edit(idle), idle);
             t.serviceEditor->show();
             buttonNamed(*t.serviceEditor, QStringLiteral("Delete"))->click();
             return t.serviceEditor->openQuestion();
         },
         [=](ConfirmationsTest &t) { return t.serviceDeletes == 1; }},
        {QStringLiteral("Delete Variable?"), QStringLiteral("Delete"),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             ProfileEditorView &editor = t.editorOfProfileWithOneVariable();
             editor.findChild<ProfileEditorVariableRow *>()->deleteButton()->click();
             return editor.openConfirmation();
         },
         [=](ConfirmationsTest &t) { return t.profileEditor->model().draft.variables.isEmpty(); }},
        {QStringLiteral("Delete Profile?"), QStringLiteral("Delete"),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             ProfileEditorView &editor = t.editorOfProfileWithOneVariable();
             editor.findChild<QPushButton *>(QStringLiteral("deleteButton"))->click();
             return editor.openConfirmation();
         },
         [=](ConfirmationsTest &t) { return t.profileDeletes == 1; }},
        {QStringLiteral("Reset settings to defaults?"), QStringLiteral("Reset to Defaults"),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             t.settingsView = std::make_unique<SettingsView>(
                 &t.settingsRepository, [&t] { return t.currentSettings; },
                 [&t](const AppSettings &applied) { t.currentSettings = applied; });
             t.settingsView->show();
             t.settingsView->setApplicationReady(true);
             t.settingsView->findChild<QPushButton *>(QStringLiteral("resetSettingsButton"))->click();
             return t.settingsView->openAlert();
         },
         [=](ConfirmationsTest &t) { return t.currentSettings.defaultShell == AppSettings::defaultShellPath(); }},
    };
}

// The alerts and questions that destroy nothing; `blank` has no command.
std::vector<Confirmation> alerts(const ManagedService &blank)
{
    return {
        {QStringLiteral("Error"),
         QString(),
         [=](ConfirmationsTest &t) {
             await(t.servicesView().controller().launchService(blank, SudoLaunchAction::start));
             return ConfirmationsTest::openBox(*t.services);
         },
         {}},
        {QStringLiteral("Use Terminal?"),
         QString(),
         [=](ConfirmationsTest &t) -> QMessageBox * {
             t.serviceEditor = t.serviceEditorFor(ServiceEditorMode::create(), blank);
             t.serviceEditor->show();
             t.serviceEditor->findChild<QComboBox *>(QStringLiteral("launchOptionPicker"))->setCurrentIndex(1);
             waitUntil([&] { return t.serviceEditor->openQuestion() != nullptr; });
             return t.serviceEditor->openQuestion();
         },
         {}},
    };
}

struct ConfirmationScreenshots : ConfirmationsTest {
    void SetUp() override
    {
        if (Screenshots::directory().isEmpty())
            GTEST_SKIP() << "no screenshot run";
        ConfirmationsTest::SetUp();
    }
    void TearDown() override
    {
        ThemeManager::instance().apply(AppAppearanceMode::system);
        ConfirmationsTest::TearDown();
    }

    static QString fileName(const QString &title, AppAppearanceMode mode)
    {
        QString slug = title.toLower();
        slug.replace(QRegularExpression(QStringLiteral("[^a-z]+")), QStringLiteral("-"));
        while (slug.endsWith(QLatin1Char('-')))
            slug.chop(1);
        return QStringLiteral("confirmations/") + slug
               + (mode == AppAppearanceMode::dark ? QStringLiteral("-dark") : QStringLiteral("-light"));
    }
};

} // namespace

// Return and Escape never destroy anything; only the destructive button does.
TEST_F(ConfirmationsTest, ReturnCancelsEveryDestructiveConfirmationAndItsButtonActs)
{
    const auto [idle, finished] = prepare();
    ASSERT_FALSE(history.records(finished.id).isEmpty());
    for (const Confirmation &confirmation : destructiveConfirmations(idle, finished)) {
        SCOPED_TRACE(confirmation.title.toStdString());
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            QPointer<QMessageBox> box = confirmation.open(*this);
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(showsTitleInItsBody(*box, confirmation.title));
            QPushButton *cancel = button(*box, QStringLiteral("Cancel"));
            ASSERT_NE(cancel, nullptr);
            EXPECT_EQ(box->defaultButton(), cancel);
            EXPECT_EQ(box->focusWidget(), cancel);
            QTest::keyClick(box->focusWidget(), key);
            QTest::qWait(200);
            const auto closed = [&] {
                const QWidget *shown = box.data();
                return shown == nullptr || !shown->isVisibleTo(shown->parentWidget());
            };
            EXPECT_TRUE(waitUntil(closed, 1000));
            EXPECT_FALSE(confirmation.destroyed(*this)) << "after key " << key;
        }
        QMessageBox *box = confirmation.open(*this);
        ASSERT_NE(box, nullptr);
        QPushButton *destructive = button(*box, confirmation.destructiveButton);
        ASSERT_NE(destructive, nullptr);
        destructive->click();
        EXPECT_TRUE(waitUntil([&] { return confirmation.destroyed(*this); }));
    }
}

// Alerts and questions that destroy nothing still state their title in the body.
TEST_F(ConfirmationsTest, AlertsStateTheirTitleInTheirBody)
{
    const ManagedService blank = addService(QStringLiteral("blank"), QStringLiteral(" "));
    for (const Confirmation &alert : alerts(blank)) {
        QMessageBox *box = alert.open(*this);
        ASSERT_NE(box, nullptr) << alert.title.toStdString();
        EXPECT_TRUE(showsTitleInItsBody(*box, alert.title));
    }
}

TEST_F(ConfirmationScreenshots, EveryConfirmationAndAlert)
{
    const auto [idle, finished] = prepare();
    const ManagedService blank = addService(QStringLiteral("blank"), QStringLiteral(" "));
    std::vector<Confirmation> all = destructiveConfirmations(idle, finished);
    for (Confirmation &alert : alerts(blank))
        all.push_back(std::move(alert));
    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        ThemeManager::instance().apply(mode);
        for (const Confirmation &confirmation : all) {
            QMessageBox *box = confirmation.open(*this);
            ASSERT_NE(box, nullptr) << confirmation.title.toStdString();
            waitUntil([] { return false; }, 150);
            EXPECT_TRUE(Screenshots::save(*box, fileName(confirmation.title, mode)));
            QTest::keyClick(box, Qt::Key_Escape);
            waitUntil([] { return false; }, 100);
        }
    }
}
