#include "execution/ServiceManagerFixture.h"
#include "services/ButtonLookup.h"

#include "profiles/ProtectedUnlockReason.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "records/SettingsRepository.h"
#include "support/Screenshots.h"
#include "ui/components/ThemeManager.h"
#include "ui/components/TitledMessageBox.h"
#include "ui/components/WrappingText.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"
#include "ui/platform/PasswordPromptDialog.h"
#include "ui/screens/profiles/ProfileEditorVariableRow.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"
#include "ui/screens/services/SudoPasswordPromptView.h"
#include "ui/screens/settings/SettingsView.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <functional>

namespace {

QMessageBox *openBox(QWidget &parent)
{
    for (QMessageBox *box : parent.findChildren<QMessageBox *>())
        if (box->isVisible())
            return box;
    return nullptr;
}

bool showsTitleInItsBody(QMessageBox &box, const QString &title)
{
    int boldTitles = 0;
    for (const QLabel *label : box.findChildren<QLabel *>())
        boldTitles += label->isVisible() && label->text() == title && label->font().bold();
    return boldTitles == 1;
}

struct Confirmation {
    QString title;
    QString destructiveButton; // empty for boxes that destroy nothing
    std::function<QMessageBox *()> open;
    std::function<bool()> destroyed;
};

struct ConfirmationsTest : ServiceManagerTest {
    SecurityScopedBookmarkStore bookmarks {folder + QStringLiteral("/bookmarks.json")};
    SettingsRepository settingsRepository {folder + QStringLiteral("/settings.json")};
    AppSettings currentSettings;
    int serviceDeletes = 0;
    int profileDeletes = 0;
    ServicesController servicesController {manager, profiles, lockManager, history, &bookmarks};
    ProfilesController profilesController {profiles, lockManager};
    ServicesView services {manager, profiles, lockManager, history, &bookmarks};
    std::unique_ptr<ServiceEditorView> serviceEditor;
    std::unique_ptr<ProfileEditorView> profileEditor;
    SettingsView settingsView {&settingsRepository, [this] { return currentSettings; },
                               [this](const AppSettings &applied) { currentSettings = applied; }};

    void TearDown() override
    {
        ThemeManager::instance().apply(AppAppearanceMode::system);
        ServiceManagerTest::TearDown();
    }

    ServiceEditorView &showServiceEditor(ServiceEditorMode mode, ManagedService draft)
    {
        serviceEditor = std::make_unique<ServiceEditorView>(std::move(mode), std::move(draft), servicesController);
        QObject::connect(serviceEditor.get(), &ServiceEditorView::deleteRequested, [this] { ++serviceDeletes; });
        serviceEditor->show();
        return *serviceEditor;
    }

    ProfileEditorView &showProfileEditor()
    {
        const EnvironmentProfile profile {
            QUuid::createUuid(), QStringLiteral("P"), {variable("PATH", "/bin")}, false, {}, {}};
        profileEditor = std::make_unique<ProfileEditorView>(ProfileEditorMode::edit(profile), profilesController);
        QObject::connect(profileEditor.get(), &ProfileEditorView::deleteRequested, [this] { ++profileDeletes; });
        profileEditor->show();
        return *profileEditor;
    }

    // Every box a user can meet, with a service to force-terminate, one with a run to clear and one
    // (`blank`) with no command to run; those that destroy nothing come last.
    std::vector<Confirmation> confirmations()
    {
        const ManagedService idle = addService(QStringLiteral("idle"), QStringLiteral("sleep 300"));
        const ManagedService finished = addService(QStringLiteral("finished"), QStringLiteral("echo done"));
        const ManagedService blank = addService(QStringLiteral("blank"), QStringLiteral(" "));
        await(manager.start(finished.id));
        waitForStopped(finished.id);
        // A non-default shell, so that the reset has something to undo.
        currentSettings.defaultShell = AppSettings::defaultShellPath() == QStringLiteral("/bin/bash")
                                           ? QStringLiteral("/bin/sh")
                                           : QStringLiteral("/bin/bash");
        services.resize(1100, 720);
        services.show();
        settingsView.show();
        settingsView.setApplicationReady(true);
        return {
            {QStringLiteral("Force Terminate?"), QStringLiteral("Force Terminate"),
             [=, this] {
                 if (!running(idle.id))
                     await(manager.start(idle.id));
                 services.controller().requestForceKill(idle);
                 return openBox(services);
             },
             [=, this] { return !running(idle.id); }},
            {QStringLiteral("Clear run history?"), QStringLiteral("Clear All"),
             [=, this] {
                 services.selectService(finished.id);
                 auto *section = services.findChild<ServiceRunHistorySection *>();
                 section->setExpanded(true);
                 services.findChild<QPushButton *>(QStringLiteral("clearAllButton"))->click();
                 return section->clearConfirmation();
             },
             [=, this] { return history.records(finished.id).isEmpty(); }},
            {QStringLiteral("Delete Service?"), QStringLiteral("Delete"),
             [=, this] {
                 ServiceEditorView &editor = showServiceEditor(ServiceEditorMode::edit(idle), idle);
                 buttonNamed(editor, QStringLiteral("Delete"))->click();
                 return editor.openQuestion();
             },
             [this] { return serviceDeletes == 1; }},
            {QStringLiteral("Delete Variable?"), QStringLiteral("Delete"),
             [this] {
                 showProfileEditor().findChild<ProfileEditorVariableRow *>()->deleteButton()->click();
                 return profileEditor->openConfirmation();
             },
             [this] { return profileEditor->model().draft.variables.isEmpty(); }},
            {QStringLiteral("Delete Profile?"), QStringLiteral("Delete"),
             [this] {
                 showProfileEditor().findChild<QPushButton *>(QStringLiteral("deleteButton"))->click();
                 return profileEditor->openConfirmation();
             },
             [this] { return profileDeletes == 1; }},
            {QStringLiteral("Reset settings to defaults?"), QStringLiteral("Reset to Defaults"),
             [this] {
                 settingsView.findChild<QPushButton *>(QStringLiteral("resetSettingsButton"))->click();
                 return settingsView.openAlert();
             },
             [this] { return currentSettings.defaultShell == AppSettings::defaultShellPath(); }},
            {QStringLiteral("Error"),
             {},
             [=, this] {
                 await(services.controller().launchService(blank, SudoLaunchAction::start));
                 return openBox(services);
             },
             {}},
            {QStringLiteral("Use Terminal?"),
             {},
             [=, this] {
                 ServiceEditorView &editor = showServiceEditor(ServiceEditorMode::create(), blank);
                 editor.findChild<QComboBox *>(QStringLiteral("launchOptionPicker"))->setCurrentIndex(1);
                 waitUntil([&] { return editor.openQuestion() != nullptr; });
                 return editor.openQuestion();
             },
             {}},
        };
    }
};

} // namespace

TEST_F(ConfirmationsTest, ReturnAndEscapeDestroyNothingAndOnlyTheDestructiveButtonActs)
{
    for (const Confirmation &confirmation : confirmations()) {
        SCOPED_TRACE(confirmation.title.toStdString());
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            QPointer<QMessageBox> box = confirmation.open();
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(showsTitleInItsBody(*box, confirmation.title));
            if (confirmation.destructiveButton.isEmpty())
                break;
            QPushButton *cancel = buttonNamed(*box, QStringLiteral("Cancel"));
            ASSERT_NE(cancel, nullptr);
            EXPECT_EQ(box->defaultButton(), cancel);
            EXPECT_EQ(box->focusWidget(), cancel);
            QTest::keyClick(box->focusWidget(), key);
            // Destruction can be asynchronous (a kill), so give a wrong one time to show.
            QTest::qWait(200);
            EXPECT_TRUE(waitUntil([&] { return !box || !box->isVisibleTo(box->parentWidget()); }));
            EXPECT_FALSE(confirmation.destroyed()) << "after key " << key;
        }
        if (confirmation.destructiveButton.isEmpty())
            continue;
        QPushButton *destructive = buttonNamed(*confirmation.open(), confirmation.destructiveButton);
        ASSERT_NE(destructive, nullptr);
        destructive->click();
        EXPECT_TRUE(waitUntil([&] { return confirmation.destroyed(); }));
    }
}

TEST_F(ConfirmationsTest, StoredNamesShowOnOneLineAndAnAlertShortensALongNameOrKeyInTheMiddle)
{
    // An alert keeps the words of `whole` that wrap, shortens its last (wider than the alert), and says it whole.
    const auto check = [](QWidget &shown, const QString &whole = {}) {
        SCOPED_TRACE(shown.metaObject()->className());
        QStringList texts {shown.accessibleName()};
        for (const QWidget *widget : shown.findChildren<QWidget *>()) {
            const auto *combo = qobject_cast<const QComboBox *>(widget);
            for (int item = 0; combo && item < combo->count(); ++item)
                texts << combo->itemText(item);
            const auto *label = qobject_cast<const QLabel *>(widget);
            const auto *wrapping = qobject_cast<const WrappingText *>(widget);
            texts << widget->accessibleName() << (label ? label->text() : wrapping ? wrapping->text() : QString());
        }
        const QString all = texts.join(u'|');
        EXPECT_FALSE(all.contains(QChar::LineSeparator) || all.contains(QChar::ParagraphSeparator));
        EXPECT_TRUE(all.contains(QRegularExpression(QStringLiteral("web N|staging p|K…\u2060?K"))));
        if (auto *box = qobject_cast<QMessageBox *>(&shown)) {
            QCoreApplication::processEvents();
            const auto *message = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
            EXPECT_TRUE(message->text().contains(whole.section(u' ', 0, -2)));
            EXPECT_FALSE(message->text().contains(whole));
            EXPECT_TRUE(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Description).contains(whole));
            EXPECT_LE(message->sizeHint().width(), message->width()); // the closing quote and full stop show
            EXPECT_LE(box->width(), 640);
            QTest::keyClick(box, Qt::Key_Escape);
        }
    };
    const EnvironmentProfile profile = saveProfile(QStringLiteral("staging\u2029") + QString(200, u'p'),
                                                   {variable(QByteArray(150, 'K').constData(), "1")}, false);
    const QString serviceName =
        QStringLiteral("Nightly backup of the production database cluster to the offsite storage ")
        + QString(200, u'n');
    const ManagedService service =
        addService(QStringLiteral("web\u2028") + serviceName, QStringLiteral("sleep 300"), profile.id);
    services.selectService(service.id);
    services.show();
    check(services);
    check(showServiceEditor(ServiceEditorMode::edit(service), service));
    ServiceRunRecord run;
    run.environmentProfileName = profile.name;
    ServiceRunHistoryRow runRow(run);
    runRow.setExpanded(true);
    check(runRow);
    const CommandThreatReviewRequest review {service.id, service.name, SudoLaunchAction::start, {}};
    const SudoPasswordRequest sudo {service.id, service.name, SudoLaunchAction::start, {}};
    check(*new CommandThreatReviewView(review, &services));
    check(*new SudoPasswordPromptView(sudo, &services));
    check(*new MenuCommandThreatReviewView(review, &services));
    check(*new MenuSudoPasswordPromptView(sudo, std::nullopt, &services));
    check(
        *new PasswordPromptDialog(ProtectedUnlockReason::launchService(service.name, profile.name).text(), &services));
    buttonNamed(*serviceEditor, QStringLiteral("Delete"))->click();
    check(*serviceEditor->openQuestion(), serviceName);
    services.controller().requestForceKill(service);
    check(*openBox(services), serviceName);
    ProfileEditorView editor(ProfileEditorMode::edit(profile), profilesController);
    editor.show();
    editor.findChild<ProfileEditorVariableRow *>()->deleteButton()->click();
    check(*editor.openConfirmation(), profile.variables.constFirst().key);
    editor.findChild<QPushButton *>(QStringLiteral("deleteButton"))->click();
    check(*editor.openConfirmation(), QString(200, u'p'));
}

using ConfirmationScreenshots = ConfirmationsTest;

TEST_F(ConfirmationScreenshots, EveryConfirmationAndAlert)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "no screenshot run";
    const std::vector<Confirmation> all = confirmations();
    for (const auto &[mode, theme] :
         {std::pair {AppAppearanceMode::light, "light"}, std::pair {AppAppearanceMode::dark, "dark"}}) {
        ThemeManager::instance().apply(mode);
        for (const Confirmation &confirmation : all) {
            QMessageBox *box = confirmation.open();
            ASSERT_NE(box, nullptr) << confirmation.title.toStdString();
            QTest::qWait(150);
            const QString slug = confirmation.title.toLower()
                                     .remove(QRegularExpression(QStringLiteral("[^a-z]+$")))
                                     .replace(QRegularExpression(QStringLiteral("[^a-z]+")), QStringLiteral("-"));
            EXPECT_TRUE(Screenshots::save(*box, QStringLiteral("confirmations/%1-%2").arg(slug, QLatin1String(theme))));
            QTest::keyClick(box, Qt::Key_Escape);
            QTest::qWait(100);
        }
    }
}
