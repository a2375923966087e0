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
#include <QPainter>
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
        const EnvironmentProfile vault = saveProfile(QStringLiteral("vault"), {}, true);
        lockManager.lock();
        await(manager.start(addService(QStringLiteral("api-server"), QStringLiteral("sleep 60")).id));
        await(manager.start(
            addService(QStringLiteral("web frontend with a rather long name"), QStringLiteral("sleep 60")).id));
        addService(QStringLiteral("billing-worker"), QStringLiteral("sleep 60"), vault.id);
        addService(QStringLiteral("nightly_backup_of_the_whole_srv_tree_to_the_archive_volume_with_checksums"),
                   QStringLiteral("sudo rsync -a /srv /backup"));
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

    // The content at the panel's size, in a window of its own: other test
    // processes on the same display may take the focus, which closes the panel.
    void snap(MenuBarStatusView &view, const QString &name, AppAppearanceMode mode)
    {
        QCoreApplication::processEvents();
        view.adjustSize();
        view.resize(MenuBarPanel::panelWidth,
                    std::max(MenuBarPanel::minimumHeight, view.heightForWidth(MenuBarPanel::panelWidth) > 0
                                                              ? view.heightForWidth(MenuBarPanel::panelWidth)
                                                              : view.sizeHint().height()));
        Screenshots::save(view,
                          QStringLiteral("panel/") + name
                              + (mode == AppAppearanceMode::dark ? QStringLiteral("-dark") : QStringLiteral("-light")));
    }

    // The panel opened under the main window's button, as the person sees it.
    void snapAnchored(AppAppearanceMode mode)
    {
        const QString pictures = Screenshots::directory() + QStringLiteral("/panel");
        QDir().mkpath(pictures);
        for (int attempt = 0; attempt < 3; ++attempt) {
            controller.closePanel();
            QTest::qWait(450);
            controller.togglePanel();
            if (!waitUntil([&] { return controller.isPanelVisible(); }))
                continue;
            QTest::qWait(100);
            if (!controller.isPanelVisible())
                continue;
            // Our two windows only, drawn where they stand: other test
            // processes may have windows on the same display.
            MenuBarPanel *panel = controller.panel();
            const QRect windowArea(window.mapToGlobal(QPoint(0, 0)), window.size());
            const QRect area = windowArea.united(panel->geometry()).adjusted(-10, -10, 10, 10);
            QImage picture(area.size(), QImage::Format_RGB32);
            picture.fill(Qt::darkGray);
            QPainter painter(&picture);
            painter.drawPixmap(windowArea.topLeft() - area.topLeft(), window.grab());
            painter.drawPixmap(panel->geometry().topLeft() - area.topLeft(), panel->grab());
            painter.end();
            picture.save(pictures
                         + (mode == AppAppearanceMode::dark ? QStringLiteral("/anchored-dark.png")
                                                            : QStringLiteral("/anchored-light.png")));
            return;
        }
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
    const ManagedService backup =
        *std::find_if(manager.services().cbegin(), manager.services().cend(), [](const ManagedService &service) {
            return service.name
                   == QStringLiteral("nightly_backup_of_the_whole_srv_tree_to_the_archive_volume_with_checksums");
        });

    for (AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        applyApplicationAppearance(mode);
        snapAnchored(mode);
        controller.closePanel();

        MenuBarStatusView view(&manager, &profiles, &lockManager, nullptr, true);
        view.show();
        snap(view, QStringLiteral("list"), mode);

        await(view.controller()->toggleService(backup));
        ASSERT_NE(view.reviewView(), nullptr);
        snap(view, QStringLiteral("review"), mode);

        view.reviewView()->runAnywayButton()->click();
        ASSERT_TRUE(waitUntil([&] { return view.sudoView() != nullptr; }));
        view.sudoView()->passwordField()->setText(QStringLiteral("typed"));
        snap(view, QStringLiteral("sudo"), mode);

        view.footerQuitButton()->click();
        snap(view, QStringLiteral("quit"), mode);
    }
    await(manager.stopAll(true));
}
