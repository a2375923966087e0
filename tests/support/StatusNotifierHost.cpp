#include "support/StatusNotifierHost.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QMutex>
#include <QMutexLocker>

namespace {
const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString connectionName = QStringLiteral("velmora-test-status-notifier-host");
} // namespace

class StatusNotifierWatcherObject : public QObject {
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

StatusNotifierHost::StatusNotifierHost()
    : m_watcher(new StatusNotifierWatcherObject),
      m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
    m_bus.registerObject(watcherPath, m_watcher, QDBusConnection::ExportAllContents);
    m_watcher->moveToThread(&m_thread);
    m_thread.start();
    m_registered = m_bus.isConnected() && m_bus.registerService(watcherName);
}

StatusNotifierHost::~StatusNotifierHost()
{
    m_bus.unregisterService(watcherName);
    m_bus.unregisterObject(watcherPath);
    QDBusConnection::disconnectFromBus(connectionName);
    m_thread.quit();
    m_thread.wait();
    delete m_watcher;
}

QStringList StatusNotifierHost::registeredItems() const
{
    return m_watcher->registeredItems();
}

void StatusNotifierHost::activate(const QString &item, int x, int y)
{
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    const QString service = slash > 0 ? item.left(slash) : item;
    const QString path = slash > 0 ? item.mid(slash) : QStringLiteral("/StatusNotifierItem");
    QDBusMessage click = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.kde.StatusNotifierItem"),
                                                        QStringLiteral("Activate"));
    click << x << y;
    m_bus.asyncCall(click);
}

#include "StatusNotifierHost.moc"
