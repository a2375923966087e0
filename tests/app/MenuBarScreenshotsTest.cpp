#include "app/ApplicationAppearance.h"
#include "app/MenuBarController.h"
#include "app/MenuBarPanel.h"
#include "execution/ServiceManagerFixture.h"
#include "support/Screenshots.h"
#include "ui/components/MacSecureField.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"

#include <QDir>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTest>

// The tray panel in each of its modes, light and dark, and once opened
// under the main window's status button.
struct MenuBarPanelScreenshots : ServiceManagerTest {
    MenuBarController controller;
    QMainWindow window;

    MenuBarPanelScreenshots()
    {
        window.setWindowTitle(QStringLiteral("Velmora"));
        window.setCentralWidget(new QWidget);
        window.setGeometry(40, 40, 1180, 760);
    }

    void seed()
    {
        const EnvironmentProfile vault {QUuid::createUuid(), QStringLiteral("vault"), {}, true,
                                        QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc()};
        await(profiles.saveProfile(vault));
        lockManager.lock();
        await(manager.start(addService(QStringLiteral("api-server"), QStringLiteral("sleep 60")).id));
        await(manager.start(addService(QStringLiteral("web frontend with a rather long name"),
                                       QStringLiteral("sleep 60")).id));
        addService(QStringLiteral("billing-worker"), QStringLiteral("sleep 60"), vault.id);
        addService(QStringLiteral("nightly backup"), QStringLiteral("sudo rsync -a /srv /backup"));
        addService(QStringLiteral("docs"), QStringLiteral("python3 -m http.server"));
        ASSERT_TRUE(waitUntil([&] { return entry(manager.services().first().id).pid.has_value(); }));
    }

    MenuBarEnvironment environment()
    {
        MenuBarEnvironment environment;
        environment.serviceManager = &manager;
        environment.environmentProfilesManager = &profiles;
        environment.lockManager = &lockManager;
        environment.isReady = [] { return true; };
        return environment;
    }

    void snap(const QString &name, AppAppearanceMode mode)
    {
        applyApplicationAppearance(mode);
        controller.layoutPanel();
        Screenshots::save(*controller.panel(), QStringLiteral("panel/") + name
                              + (mode == AppAppearanceMode::dark ? QStringLiteral("-dark") : QStringLiteral("-light")));
    }
};

TEST_F(MenuBarPanelScreenshots, ListPromptsAndQuitQuestion)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "no screenshot run";
    seed();
    window.show();
    controller.configure(environment());
    QCoreApplication::processEvents();

    for (AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        applyApplicationAppearance(mode);
        controller.closePanel();
        QTest::qWait(450);
        controller.togglePanel();
        ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
        QTest::qWait(100);
        ASSERT_NE(controller.statusView(), nullptr);
        // The panel under its button, as the person sees it.
        const QString pictures = Screenshots::directory() + QStringLiteral("/panel");
        QDir().mkpath(pictures);
        QGuiApplication::primaryScreen()->grabWindow(0).copy(QRect(0, 0, 1240, 820)).save(
            pictures + (mode == AppAppearanceMode::dark ? QStringLiteral("/anchored-dark.png")
                                                      : QStringLiteral("/anchored-light.png")));
        snap(QStringLiteral("list"), mode);

        MenuBarStatusView *view = controller.statusView();
        await(view->controller()->toggleService(*std::find_if(
            manager.services().cbegin(), manager.services().cend(),
            [](const ManagedService &service) { return service.name == QStringLiteral("nightly backup"); })));
        ASSERT_NE(view->reviewView(), nullptr);
        QCoreApplication::processEvents();
        snap(QStringLiteral("review"), mode);

        view->reviewView()->runAnywayButton()->click();
        ASSERT_TRUE(waitUntil([&] { return view->sudoView() != nullptr; }));
        view->sudoView()->passwordField()->setText(QStringLiteral("typed"));
        QCoreApplication::processEvents();
        snap(QStringLiteral("sudo"), mode);

        view->footerQuitButton()->click();
        QCoreApplication::processEvents();
        snap(QStringLiteral("quit"), mode);
    }
    await(manager.stopAll(true));
}
