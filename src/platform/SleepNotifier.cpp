#include "platform/SleepNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

SleepNotifier::SleepNotifier(QObject *parent) : QObject(parent)
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
    QDBusMessage call = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager,
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Velmora")
         << QStringLiteral("Lock protected profiles before sleeping") << QStringLiteral("delay");
    const QDBusReply<QDBusUnixFileDescriptor> reply = QDBusConnection::systemBus().call(call, QDBus::Block, 2000);
    if (reply.isValid())
        m_inhibitor = reply.value();
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
