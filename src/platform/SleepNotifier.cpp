#include "platform/SleepNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

SleepNotifier::SleepNotifier(QObject *parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    bus.connect(login1Service, login1Path, login1Manager, QStringLiteral("PrepareForSleep"), this,
                SLOT(prepareForSleep(bool)));
    takeInhibitor();
}

void SleepNotifier::takeInhibitor()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Velmora")
         << QStringLiteral("Lock protected profiles before sleeping") << QStringLiteral("delay");
    // Asked without waiting: the main thread never stalls on logind.
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
        if (reply.isValid())
            m_inhibitor = reply.value();
        finished->deleteLater();
    });
}

void SleepNotifier::prepareForSleep(bool starting)
{
    if (starting) {
        Q_EMIT aboutToSleep();
        // Closing our copy of the descriptor lets the sleep go ahead.
        m_inhibitor = QDBusUnixFileDescriptor();
    } else {
        takeInhibitor();
    }
}
