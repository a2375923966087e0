#include "AppFixture.h"

#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "app/SettingsWindow.h"
#include "app/LaunchSplashSpinner.h"
#include "app/LaunchSplashView.h"
#include "records/RecordsTestSupport.h"
#include "support/FileSizeLimit.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/SymbolView.h"
#include "ui/components/TitledMessageBox.h"

#include <QAccessible>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>

using ContentViewTest = AppFixture;

TEST_F(ContentViewTest, SplashStaysUntilStartUpAndItsDelayAreBothDone)
{
    build();
    ContentView view(*app);
    view.resize(1180, 760);
    view.show();
    ASSERT_NE(view.splash(), nullptr);
    EXPECT_TRUE(present(view.splitView()).isHidden());
    EXPECT_FALSE(present(view.splitView()).isEnabled());

    // Start-up finishes first: the splash waits for its delay.
    await(app->bootstrap());
    QCoreApplication::processEvents();
    EXPECT_TRUE(present(view.splitView()).isHidden());
    EXPECT_TRUE(waitUntil([&] { return present(view.splash()).isLogoVisible(); }));
    EXPECT_EQ(present(view.splash()).logo()->accessibleName(), QStringLiteral("Velmora logo"));
    EXPECT_EQ(present(view.splash()).spinner()->accessibleName(), QStringLiteral("Starting Velmora"));
    const auto shownToAssistiveTechnology = [](QWidget *widget) {
        return !QAccessible::queryAccessibleInterface(widget)->state().invisible;
    };
    EXPECT_TRUE(shownToAssistiveTechnology(present(view.splash()).logo()));
    EXPECT_FALSE(shownToAssistiveTechnology(present(view.splash()).spinner()));
    EXPECT_FALSE(shownToAssistiveTechnology(&present(view.splitView())));

    await(app->completeLaunchSplashDelay());
    EXPECT_TRUE(present(view.splash()).isSpinnerVisible());
    EXPECT_TRUE(present(view.splash()).spinner()->isAnimating());
    EXPECT_TRUE(shownToAssistiveTechnology(present(view.splash()).spinner()));
    EXPECT_TRUE(present(view.splitView()).isVisible());
    EXPECT_TRUE(present(view.splitView()).isEnabled());
    EXPECT_TRUE(waitUntil([&] { return view.splash() == nullptr; }));
    EXPECT_EQ(present(view.splitView()).graphicsEffect(), nullptr);

    // A view made once ready never shows the splash.
    ContentView later(*app);
    EXPECT_EQ(later.splash(), nullptr);
    EXPECT_FALSE(present(later.splitView()).isHidden());
}

TEST_F(ContentViewTest, SidebarRowsSwitchTheSectionAndRebuildOnlyOnAChange)
{
    build(true);
    ContentView view(*app);
    view.show();

    const QStringList titles {QStringLiteral("Dashboard"), QStringLiteral("Environment Profiles"),
                              QStringLiteral("Services")};
    for (const AppSection section : allAppSections())
        EXPECT_EQ(present(view.sidebarRow(section)).accessibleName(), titles.at(int(section)));
    EXPECT_EQ(present(view.findChild<QScrollArea *>()).width(), ContentView::sidebarWidth);
    EXPECT_TRUE(present(view.sidebarRow(AppSection::dashboard)).isSelected());
    EXPECT_EQ(present(present(view.sidebarRow(AppSection::services)).findChild<SymbolView *>()).symbolName(),
              QStringLiteral("shippingbox.fill"));

    // The current section is a state too: AT-SPI carries no value for a button.
    for (const AppSection section : allAppSections()) {
        QAccessibleInterface *row = QAccessible::queryAccessibleInterface(view.sidebarRow(section));
        EXPECT_EQ(bool(row->state().selected), section == AppSection::dashboard);
        EXPECT_EQ(row->text(QAccessible::Value),
                  section == AppSection::dashboard ? QStringLiteral("Selected") : QString());
    }
    // Neither column's scroll area is a Tab stop of its own.
    for (const QScrollArea *scroll : view.findChildren<QScrollArea *>())
        EXPECT_EQ(scroll->focusPolicy(), Qt::NoFocus);

    QPointer<QWidget> dashboard = view.detailScreen();
    present(view.sidebarRow(AppSection::dashboard)).click(); // the same section: nothing changes
    EXPECT_EQ(view.detailScreen(), dashboard.data());

    present(view.sidebarRow(AppSection::environmentProfiles)).click();
    EXPECT_EQ(app->selectedSection(), AppSection::environmentProfiles);
    EXPECT_TRUE(dashboard.isNull());
    EXPECT_TRUE(present(view.sidebarRow(AppSection::environmentProfiles)).isSelected());
    EXPECT_FALSE(present(view.sidebarRow(AppSection::dashboard)).isSelected());
    EXPECT_TRUE(
        QAccessible::queryAccessibleInterface(view.sidebarRow(AppSection::environmentProfiles))->state().selected);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(view.sidebarRow(AppSection::dashboard))->state().selected);

    app->showService(QUuid::createUuid());
    EXPECT_TRUE(present(view.sidebarRow(AppSection::services)).isSelected());
    EXPECT_GE(present(present(view.detailScreen()).parentWidget()).minimumWidth(), ContentView::detailMinimumWidth);
}

// A failed run-history redaction is told in a window-modal alert on the main window whatever the section: one met
// under the splash once the launch completes, one met while the window is closed once it is shown again.
TEST_F(ContentViewTest, AFailedRedactionIsShownOnTheMainWindowWhateverTheSection)
{
    build();
    ContentView view(*app);
    view.show();
    await(app->bootstrap());
    ServiceRunHistoryManager &history = app->runHistoryManager();
    qint64 started = 1'700'000'000;
    // A run in clear whose redaction fails; saving it retries the last failed redaction, which succeeds.
    const auto failRedactionOf = [&](const QString &profile) {
        ServiceRunRecord run = records_test::makeRun(QUuid::createUuid(), ++started);
        run.environmentProfileName = profile;
        run.environment = {{QStringLiteral("HOST"), QStringLiteral("in-clear"), false}};
        history.insertRecord(run);
        await(history.persistRun(run.serviceId, 0, run));
        await(history.waitForPendingWrites());
        const ScopedFileSizeLimit diskFull(1);
        await(history.redactProtectedProfileHistory({}, {profile}));
    };
    const auto shownAlerts = [&] {
        QList<TitledMessageBox *> alerts = view.findChildren<TitledMessageBox *>();
        alerts.removeIf([](const TitledMessageBox *alert) { return !alert->isVisible(); });
        return alerts;
    };
    const auto dismissTheOneAlert = [&] {
        const QList<TitledMessageBox *> alerts = shownAlerts();
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_EQ(alerts[0]->windowModality(), Qt::WindowModal);
        alerts[0]->buttons().value(0)->click();
        EXPECT_TRUE(shownAlerts().isEmpty());
    };

    failRedactionOf(QStringLiteral("prod"));
    EXPECT_TRUE(shownAlerts().isEmpty()) << "under the splash";
    await(app->completeLaunchSplashDelay());
    dismissTheOneAlert();
    app->setSelectedSection(AppSection::environmentProfiles);
    failRedactionOf(QStringLiteral("stage"));
    dismissTheOneAlert();
    view.hide();
    failRedactionOf(QStringLiteral("dev"));
    EXPECT_TRUE(shownAlerts().isEmpty()) << "with the window closed";
    view.show();
    dismissTheOneAlert();
}

TEST(AppSectionTest, RawValuesRoundTripAndUnknownTextsGiveNothing)
{
    for (const AppSection section : allAppSections())
        EXPECT_EQ(appSectionFromRawValue(rawValue(section)), section);
    EXPECT_EQ(appSectionFromRawValue(QStringLiteral("Dashboard")), std::nullopt);
    EXPECT_EQ(appSectionFromRawValue(QString()), std::nullopt);
}

TEST_F(ContentViewTest, MainWindowOpensOneSettingsWindowWithinItsLimits)
{
    build(true);
    MenuBarController menuBar;
    AppDelegate delegate(*app, menuBar);
    MainWindow window(*app, delegate);
    EXPECT_EQ(window.size(),
              MainWindow::firstSizeWithin(window.screen()->availableGeometry(), window.minimumSizeHint()));
    // 1180×760 where it fits with a frame; the screen's room where it does not;
    // never below the content's minimum.
    const QSize minimum(900, 600);
    const std::pair<QRect, QSize> firstSizes[] = {
        {QRect(0, 0, 1920, 1050), MainWindow::firstSize},
        {QRect(0, 27, 1366, 741), QSize(1180, 693)},
        {QRect(0, 0, 800, 600), minimum},
    };
    for (const auto &[available, expected] : firstSizes)
        EXPECT_EQ(MainWindow::firstSizeWithin(available, minimum), expected);
    // The title names the shown screen.
    const std::pair<AppSection, QString> titles[] = {
        {AppSection::dashboard, QStringLiteral("Dashboard \u2014 Velmora")},
        {AppSection::services, QStringLiteral("Services \u2014 Velmora")},
        {AppSection::environmentProfiles, QStringLiteral("Environment Profiles \u2014 Velmora")},
    };
    for (const auto &[section, title] : titles) {
        app->setSelectedSection(section);
        EXPECT_EQ(window.windowTitle(), title);
        // Every screen fits a 1366×768 laptop: the width of sidebar and detail
        // column, a height that leaves room for a title bar and a top panel.
        window.layout()->activate();
        EXPECT_GE(window.minimumSizeHint().width(), ContentView::sidebarWidth + 1 + ContentView::detailMinimumWidth);
        EXPECT_LE(window.minimumSizeHint().height(), 640) << title.toStdString();
    }

    window.openSettings();
    QPointer<SettingsWindow> settings = window.settingsWindow();
    ASSERT_FALSE(settings.isNull());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(settings.data())->role(), QAccessible::Window);
    EXPECT_EQ(settings->size(), QSize(560, 640));
    EXPECT_EQ(settings->minimumSize(), QSize(500, 520));
    EXPECT_EQ(settings->maximumSize(), QSize(820, 960));
    window.openSettings();
    EXPECT_EQ(window.settingsWindow(), settings.data()); // one at a time

    settings->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(settings.isNull());
    window.openSettings();
    EXPECT_NE(window.settingsWindow(), nullptr);
}
