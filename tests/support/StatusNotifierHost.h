#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <QThread>

class StatusNotifierWatcherObject;

// Stands in for a desktop panel's tray on the session bus: a
// StatusNotifierWatcher that reports a registered host, so Qt shows tray icons
// as StatusNotifierItems, and clicks on them the way a panel sends its clicks.
// It answers on its own connection and thread, so the application's blocking
// questions to it get answers. Register it before anything asks Qt whether a
// tray exists: Qt settles that once per process.
class StatusNotifierHost {
public:
    StatusNotifierHost();
    ~StatusNotifierHost();
    StatusNotifierHost(const StatusNotifierHost &) = delete;
    StatusNotifierHost &operator=(const StatusNotifierHost &) = delete;

    // Whether the watcher holds its bus name (false without a session bus).
    bool isRegistered() const { return m_registered; }
    // The items registered so far, as "service/path" or a bare service name.
    QStringList registeredItems() const;
    // A left click on the item, at a point of the screen as the panel reports it.
    void activate(const QString &item, int x = 200, int y = 10);

private:
    QThread m_thread;
    StatusNotifierWatcherObject *m_watcher;
    QDBusConnection m_bus;
    bool m_registered = false;
};
