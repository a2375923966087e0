#include "app/MenuBarController.h"
#include "app/MenuBarPanel.h"
#include "execution/ServiceManagerFixture.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/platform/StatusItem.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

// The tray panel's controller over a real service manager; the offscreen
// platform has no tray, so the status item is the main window's button.
struct MenuBarControllerTest : ServiceManagerTest {
    // The controller's clock: the steady clock until a test stops it.
    std::optional<std::chrono::steady_clock::time_point> stoppedAt;
    MenuBarController controller {nullptr, [this] { return stoppedAt.value_or(std::chrono::steady_clock::now()); }};
    QList<QUuid> shownServices;
    int servicesSectionShown = 0;
    int quitRequests = 0;
    int bootstraps = 0;

    MenuBarEnvironment environment()
    {
        MenuBarEnvironment environment;
        environment.serviceManager = &manager;
        environment.environmentProfilesManager = &profiles;
        environment.lockManager = &lockManager;
        environment.isReady = [] { return true; };
        environment.bootstrap = [this]() -> QCoro::Task<> {
            ++bootstraps;
            co_return;
        };
        environment.showService = [this](const QUuid &id) { shownServices.append(id); };
        environment.showServicesSection = [this] { ++servicesSectionShown; };
        environment.requestQuit = [this] { ++quitRequests; };
        return environment;
    }

    QToolButton *statusButton()
    {
        auto *item = qobject_cast<ToolButtonStatusItem *>(controller.statusItem());
        return item ? item->button() : nullptr;
    }

    void openPanel()
    {
        controller.togglePanel();
        ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
        QCoreApplication::processEvents();
    }
};

TEST_F(MenuBarControllerTest, WithoutATrayTheMainWindowButtonTogglesThePanelUnderItself)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    QMainWindow window;
    window.setCentralWidget(new QWidget);
    window.resize(1180, 760);
    window.show();
    controller.configure(environment());
    ASSERT_FALSE(controller.usesTray());
    ASSERT_NE(statusButton(), nullptr);
    ASSERT_EQ(statusButton()->window(), &window);
    QCoreApplication::processEvents();

    statusButton()->click();
    ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
    EXPECT_EQ(bootstraps, 1);
    MenuBarPanel *panel = controller.panel();
    EXPECT_EQ(panel->width(), 320);
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QRect anchor(statusButton()->mapToGlobal(QPoint(0, 0)), statusButton()->size());
    // Under the button, or above it on a screen too short for the panel below.
    EXPECT_EQ(panel->y(), anchor.y() + anchor.height() + 2);
    // Inside the main window's frame, 6 from its edges, even in a short window.
    const QRect inside = window.frameGeometry().adjusted(6, 6, -6, -6);
    EXPECT_TRUE(inside.contains(panel->frameGeometry())) << panel->y();
    // Tab goes round the panel's controls, never to the panel itself, which shows no focus.
    for (int tab = 0; tab < 6; ++tab) {
        QTest::keyClick(panel->focusWidget() ? panel->focusWidget() : panel, Qt::Key_Tab);
        EXPECT_NE(panel->focusWidget(), panel) << tab;
    }
    statusButton()->click();
    window.resize(1180, 300);
    QCoreApplication::processEvents();
    statusButton()->click();
    ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
    EXPECT_LE(panel->frameGeometry().right(), window.frameGeometry().right() - 6);
    EXPECT_LE(panel->frameGeometry().bottom(), window.frameGeometry().bottom() - 6);
    EXPECT_TRUE(statusButton()->isChecked());

    // A press on the button itself is left to the button, which closes the panel.
    QTest::mousePress(statusButton(), Qt::LeftButton);
    EXPECT_TRUE(controller.isPanelVisible());
    QTest::mouseRelease(statusButton(), Qt::LeftButton);
    EXPECT_FALSE(controller.isPanelVisible());
    EXPECT_FALSE(statusButton()->isChecked());
}

TEST_F(MenuBarControllerTest, AnAssistiveTechnologysToggleOpensAndClosesThePanelADialog)
{
    QMainWindow window;
    window.setCentralWidget(new QWidget);
    window.resize(1180, 760);
    window.show();
    controller.configure(environment());
    ASSERT_NE(statusButton(), nullptr);
    QCoreApplication::processEvents();
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(statusButton());
    ASSERT_TRUE(button->actionInterface());
    // The call the AT-SPI bridge makes for the button's Toggle action.
    button->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
    EXPECT_TRUE(statusButton()->isChecked());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(controller.panel())->role(), QAccessible::Dialog);
    button->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(waitUntil([&] { return !controller.isPanelVisible(); }));
    EXPECT_FALSE(statusButton()->isChecked());
}

TEST_F(MenuBarControllerTest, APressElsewhereClosesAndEachOpeningBuildsAFreshView)
{
    QMainWindow window;
    window.setCentralWidget(new QWidget);
    window.resize(1180, 760);
    window.show();
    controller.configure(environment());
    openPanel();
    QPointer<MenuBarStatusView> first = controller.statusView();
    ASSERT_TRUE(first);
    first->controller()->beginQuitConfirmation();

    // However long this thread takes between the press and the click, no time passes for the controller.
    stoppedAt = std::chrono::steady_clock::now();
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(600, 500));
    EXPECT_FALSE(controller.isPanelVisible());
    // The click that closed it does not reopen it when the status item reports it; the next one does.
    controller.togglePanel();
    QCoreApplication::processEvents();
    EXPECT_FALSE(controller.isPanelVisible());

    openPanel();
    ASSERT_TRUE(waitUntil([&] { return !first; }));
    EXPECT_EQ(controller.statusView()->controller()->mode(), MenuBarStatusController::Mode::services);
}

TEST_F(MenuBarControllerTest, PanelHeightFollowsItsContentWithAFloorOf80)
{
    controller.configure(environment());
    openPanel();
    MenuBarPanel *panel = controller.panel();
    EXPECT_EQ(panel->height(), std::max(80, panel->fittingHeight()));
    const int before = panel->height();

    auto *small = new QWidget;
    small->setFixedSize(320, 30);
    panel->setContent(small);
    controller.layoutPanel();
    EXPECT_EQ(panel->height(), 80);

    auto *tall = new QWidget;
    auto *layout = new QVBoxLayout(tall);
    auto *filler = new QWidget(tall);
    filler->setFixedHeight(400);
    layout->addWidget(filler);
    panel->setContent(tall);
    controller.layoutPanel();
    EXPECT_EQ(panel->height(), tall->sizeHint().height());
    EXPECT_GT(before, 80);
}

TEST_F(MenuBarControllerTest, OpenServiceWithoutAMainWindowAsksForOne)
{
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
    controller.configure(environment());
    int openRequests = 0;
    const QObject receiver; // ends the connection with the body: the controller outlives it
    QObject::connect(&controller, &MenuBarController::openMainWindowRequested, &receiver, [&] { ++openRequests; });
    openPanel();
    controller.openService(service.id);
    EXPECT_EQ(shownServices, QList<QUuid> {service.id});
    EXPECT_FALSE(controller.isPanelVisible());
    EXPECT_EQ(openRequests, 1);

    int opened = 0;
    controller.setOpenMainWindow([&] { ++opened; });
    const auto forgetOpener = qScopeGuard([&] { controller.setOpenMainWindow(nullptr); });
    controller.openService(std::nullopt);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(shownServices.size(), 1);
}

TEST_F(MenuBarControllerTest, QuitFromThePanelAllowsTermination)
{
    controller.configure(environment());
    openPanel();
    controller.statusView()->controller()->beginQuitConfirmation();
    controller.statusView()->confirmQuitButton()->click();
    EXPECT_TRUE(controller.allowTermination());
    EXPECT_EQ(quitRequests, 1);
    EXPECT_FALSE(controller.isPanelVisible());
}

TEST_F(MenuBarControllerTest, QuitAlertWithoutAMainWindowDefaultsToCancel)
{
    controller.configure(environment());
    for (const char *name : {"a", "b"})
        await(manager.start(addService(QString::fromLatin1(name), QStringLiteral("sleep 30")).id));

    auto answer = [&](bool quit) {
        QTimer::singleShot(0, [quit] {
            QMessageBox *box = nullptr;
            waitUntil([&] {
                for (QWidget *widget : QApplication::topLevelWidgets()) {
                    if (auto *candidate = qobject_cast<QMessageBox *>(widget); candidate && candidate->isVisible())
                        box = candidate;
                }
                return box != nullptr;
            });
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), QStringLiteral("Quit Velmora?"));
            EXPECT_EQ(box->informativeText(), QStringLiteral("All 2 running services will be terminated."));
            EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Cancel"));
            if (quit) {
                box->buttons().last()->click();
                return;
            }
            QTest::keyClick(box, Qt::Key_Escape);
        });
        return await(controller.requestQuitConfirmation());
    };
    EXPECT_FALSE(answer(false));
    EXPECT_TRUE(answer(true));
    await(manager.stopAll(true));
}

TEST_F(MenuBarControllerTest, ASecondTerminationPreparationWaitsForTheFirst)
{
    controller.configure(environment());
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("sleep 30"));
    await(manager.start(service.id));
    auto first = std::make_shared<BackgroundTask>();
    const QCoro::Task<> firstTask = runInBackground(controller.prepareForTermination(), first);
    await(controller.prepareForTermination());
    EXPECT_FALSE(running(service.id));
    ASSERT_TRUE(waitUntil([&] { return first->done; }));
    EXPECT_TRUE(controller.isPreparingTermination());
    EXPECT_FALSE(lockManager.isUnlocked());
}
