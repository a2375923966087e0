#include "app/MenuBarController.h"
#include "execution/ServiceManagerFixture.h"
#include "ui/platform/StatusItem.h"

#include "support/StatusNotifierHost.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QSystemTrayIcon>

struct MenuBarTrayTest : ServiceManagerTest {
    StatusNotifierHost host;
};

TEST_F(MenuBarTrayTest, TheTrayIconRegistersAndItsActivationShowsThePanel)
{
    // The offscreen platform has no tray at all; run under Xvfb with
    // VELMORA_TEST_QPA=xcb (as the screenshot run does).
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "needs the xcb platform and a session bus";
    // Asked for the first time only now: Qt settles the tray host question once per process.
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());

    MenuBarController controller;
    MenuBarEnvironment environment;
    environment.serviceManager = &manager;
    environment.environmentProfilesManager = &profiles;
    environment.lockManager = &lockManager;
    controller.configure(environment);
    ASSERT_TRUE(controller.usesTray());
    ASSERT_TRUE(waitUntil([&] { return !host.registeredItems().isEmpty(); }));

    host.activate(host.registeredItems().first());
    ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
    EXPECT_TRUE(controller.statusItem()->anchorRect().isValid());
    controller.closePanel();
}
