#include "app/MenuBarController.h"
#include "execution/ServiceManagerFixture.h"
#include "ui/platform/StatusItem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QGuiApplication>
#include <QMutex>
#include <QSystemTrayIcon>
#include <QThread>

namespace {

// A StatusNotifierItem watcher that reports a registered host, as a desktop
// tray does; it answers on its own connection and thread, so the
// application's blocking questions to it get answers.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)

public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList registeredItems() const
    {
        QMutexLocker locker(&m_mutex);
        return m_items;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service)
    {
        QMutexLocker locker(&m_mutex);
        m_items.append(service);
    }
    void RegisterStatusNotifierHost(const QString &) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

} // namespace

struct MenuBarTrayTest : ServiceManagerTest {
    QThread watcherThread;
    FakeStatusNotifierWatcher *watcher = new FakeStatusNotifierWatcher;
    QDBusConnection watcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));

    MenuBarTrayTest()
    {
        watcherBus.registerObject(QStringLiteral("/StatusNotifierWatcher"), watcher,
                                  QDBusConnection::ExportAllContents);
        watcher->moveToThread(&watcherThread);
        watcherThread.start();
        watcherBus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    ~MenuBarTrayTest() override
    {
        watcherBus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        watcherBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        watcherThread.quit();
        watcherThread.wait();
        delete watcher;
    }
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
    ASSERT_TRUE(waitUntil([&] { return !watcher->registeredItems().isEmpty(); }));

    // The host's click, as a desktop panel sends it.
    const QString item = watcher->registeredItems().first();
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    const QString service = slash > 0 ? item.left(slash) : item;
    const QString path = slash > 0 ? item.mid(slash) : QStringLiteral("/StatusNotifierItem");
    QDBusMessage activate = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.kde.StatusNotifierItem"),
                                                           QStringLiteral("Activate"));
    activate << 200 << 10;
    watcherBus.asyncCall(activate);
    ASSERT_TRUE(waitUntil([&] { return controller.isPanelVisible(); }));
    EXPECT_TRUE(controller.statusItem()->anchorRect().isValid());
    controller.closePanel();
}

#include "MenuBarTrayTest.moc"
