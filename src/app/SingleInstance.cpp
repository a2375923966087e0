#include "app/SingleInstance.h"

#include "platform/Logging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

// What the bus sees at the object path: one method that shows the main window.
class MainWindowOpener final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tolvenix.Velmora")

public:
    explicit MainWindowOpener(SingleInstance *owner)
        : QObject(owner),
          m_owner(owner)
    {}

public Q_SLOTS:
    Q_SCRIPTABLE void OpenMainWindow() { Q_EMIT m_owner->openMainWindowRequested(); }

private:
    SingleInstance *m_owner;
};

constexpr int openRequestTimeoutMs = 5000;

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{}

SingleInstance::~SingleInstance()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && m_ownsBusName) {
        bus.unregisterObject(objectPath);
        bus.unregisterService(serviceName);
    }
}

SingleInstance::Claim SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return Claim::primary;

    bus.registerObject(objectPath, new MainWindowOpener(this), QDBusConnection::ExportScriptableSlots);
    const auto reply = bus.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_ownsBusName = true;
        return Claim::primary;
    }

    bus.unregisterObject(objectPath);
    QDBusMessage request =
        QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, QStringLiteral("OpenMainWindow"));
    const QDBusMessage answer = bus.call(request, QDBus::Block, openRequestTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage)
        qCCritical(lcGeneral, "Failed to ask the running Velmora for its window: %s",
                   qUtf8Printable(answer.errorMessage()));
    return Claim::anotherInstance;
}

#include "SingleInstance.moc"
