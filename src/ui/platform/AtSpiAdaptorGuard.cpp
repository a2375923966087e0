#include "ui/platform/AtSpiAdaptorGuard.h"

#include <QAccessibleInterface>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>
#include <QXmlStreamReader>

namespace {

// Where Qt's bridge puts its connection to the accessibility bus and its adaptor.
const QString bridgeConnectionName = QStringLiteral("a11y");
const QString accessiblePath = QStringLiteral("/org/a11y/atspi/accessible");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString nullPath = QStringLiteral("/org/a11y/atspi/null");

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString applicationInterface = QStringLiteral("org.a11y.atspi.Application");

// The object a path names, as the adaptor finds it.
QAccessibleInterface *interfaceAt(const QString &path)
{
    if (path == rootPath)
        return QAccessible::queryAccessibleInterface(qApp);
    if (!path.startsWith(accessiblePath + QLatin1Char('/')))
        return nullptr;
    bool numeric = false;
    const uint id = QStringView(path).mid(accessiblePath.size() + 1).toUInt(&numeric);
    return numeric ? QAccessible::accessibleInterface(QAccessible::Id(id)) : nullptr;
}

QString pathOf(QAccessibleInterface *object)
{
    if (!object)
        return nullPath;
    if (object->role() == QAccessible::Application)
        return rootPath;
    return accessiblePath + QLatin1Char('/') + QString::number(QAccessible::uniqueId(object));
}

// An AT-SPI object reference, (so): the owning connection and the object's path.
QVariant objectReference(const QDBusConnection &connection, const QString &path)
{
    QDBusArgument reference;
    reference.beginStructure();
    reference << connection.baseService() << QDBusObjectPath(path);
    reference.endStructure();
    return QVariant::fromValue(reference);
}

void refuse(const QDBusMessage &message, const QDBusConnection &connection, QDBusError::ErrorType type,
            const QString &text)
{
    if (message.isReplyRequired())
        connection.send(message.createErrorReply(type, text));
}

} // namespace

void AtSpiAdaptorGuard::install()
{
    static AtSpiAdaptorGuard *guard = nullptr;
    if (guard)
        return;
    guard = new AtSpiAdaptorGuard;
    QAccessible::installActivationObserver(guard);
    if (QAccessible::isActive())
        guard->accessibilityActiveChanged(true);
}

AtSpiAdaptorGuard::AtSpiAdaptorGuard()
    : QDBusVirtualObject(qApp)
{}

AtSpiAdaptorGuard::~AtSpiAdaptorGuard()
{
    QAccessible::removeActivationObserver(this);
    QDBusConnection bus(bridgeConnectionName);
    if (bus.isConnected() && bus.objectRegisteredAt(accessiblePath) == this)
        bus.unregisterObject(accessiblePath, QDBusConnection::UnregisterTree);
}

void AtSpiAdaptorGuard::accessibilityActiveChanged(bool active)
{
    // The bridge registers its adaptor right after it reports the change.
    if (active)
        QTimer::singleShot(0, this, &AtSpiAdaptorGuard::takeAdaptorsPlace);
}

void AtSpiAdaptorGuard::takeAdaptorsPlace()
{
    QDBusConnection bus(bridgeConnectionName);
    if (!bus.isConnected())
        return;
    // A virtual object registered with its sub-paths is what the lookup finds.
    auto *adaptor = qobject_cast<QDBusVirtualObject *>(bus.objectRegisteredAt(accessiblePath));
    if (!adaptor || adaptor == this)
        return;
    bus.unregisterObject(accessiblePath, QDBusConnection::UnregisterTree);
    m_adaptor = adaptor;
    if (!bus.registerVirtualObject(accessiblePath, this, QDBusConnection::SubPath)) {
        // Never leave the bus without an adaptor.
        bus.registerVirtualObject(accessiblePath, adaptor, QDBusConnection::SubPath);
        m_adaptor.clear();
    }
}

QString AtSpiAdaptorGuard::introspect(const QString &path) const
{
    if (QDBusVirtualObject *adaptor = m_adaptor.data())
        return adaptor->introspect(path);
    return {};
}

std::optional<QString> AtSpiAdaptorGuard::declaredSignature(const QString &path, const QString &interface,
                                                            const QString &member)
{
    if (interface == propertiesInterface) {
        if (member == QLatin1String("Get"))
            return QStringLiteral("ss");
        if (member == QLatin1String("Set"))
            return QStringLiteral("ssv");
        if (member == QLatin1String("GetAll"))
            return QStringLiteral("s");
        return std::nullopt;
    }
    // Each interface's methods are the same on every object that has it;
    // read them from the first object that shows the interface.
    if (!m_introspectedInterfaces.contains(interface)) {
        // The adaptor gives its interfaces one after another, with no root element.
        QXmlStreamReader xml(QStringLiteral("<node>") + introspect(path) + QStringLiteral("</node>"));
        QString currentInterface;
        QString currentMethod;
        QString arguments;
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                const QXmlStreamAttributes attributes = xml.attributes();
                if (xml.name() == QLatin1String("interface")) {
                    currentInterface = attributes.value(QLatin1String("name")).toString();
                    m_introspectedInterfaces.insert(currentInterface, true);
                } else if (xml.name() == QLatin1String("method")) {
                    currentMethod = attributes.value(QLatin1String("name")).toString();
                    arguments.clear();
                } else if (xml.name() == QLatin1String("arg") && !currentMethod.isEmpty()
                           && attributes.value(QLatin1String("direction")) != QLatin1String("out")) {
                    arguments += attributes.value(QLatin1String("type"));
                }
            } else if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("method")) {
                m_signatures.insert(currentInterface + QLatin1Char('.') + currentMethod, arguments);
                currentMethod.clear();
            }
        }
    }
    const auto found = m_signatures.constFind(interface + QLatin1Char('.') + member);
    if (found == m_signatures.constEnd())
        return std::nullopt;
    return *found;
}

bool AtSpiAdaptorGuard::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    QDBusVirtualObject *adaptor = m_adaptor.data();
    if (!adaptor)
        return false;
    const QString interface = message.interface();
    const QString member = message.member();
    if (const auto declared = declaredSignature(message.path(), interface, member);
        declared && *declared != message.signature()) {
        refuse(message, connection, QDBusError::InvalidArgs,
               QStringLiteral("%1.%2 takes arguments of the types \"%3\", not \"%4\"")
                   .arg(interface, member, *declared, message.signature()));
        return true;
    }
    if (interface == propertiesInterface && member == QLatin1String("GetAll")) {
        answerGetAll(message, connection);
        return true;
    }
    return adaptor->handleMessage(message, connection);
}

void AtSpiAdaptorGuard::answerGetAll(const QDBusMessage &message, const QDBusConnection &connection)
{
    QAccessibleInterface *object = interfaceAt(message.path());
    if (!object || !object->isValid()) {
        refuse(message, connection, QDBusError::UnknownObject,
               QStringLiteral("No accessible object at %1").arg(message.path()));
        return;
    }
    const QString interface = message.arguments().at(0).toString();
    QVariantMap properties;
    if (interface == accessibleInterface) {
        properties.insert(QStringLiteral("Name"), object->text(QAccessible::Name));
        properties.insert(QStringLiteral("Description"), object->text(QAccessible::Description));
        properties.insert(QStringLiteral("Parent"), objectReference(connection, pathOf(object->parent())));
        properties.insert(QStringLiteral("ChildCount"), object->childCount());
    } else if (interface == applicationInterface && message.path() == rootPath) {
        properties.insert(QStringLiteral("ToolkitName"), QStringLiteral("Qt"));
        properties.insert(QStringLiteral("Version"), QString::fromLatin1(qVersion()));
        // Id, which the registry gave the adaptor, only through Get.
    } else {
        // Each property of the other interfaces is still there through Get.
        refuse(message, connection, QDBusError::NotSupported,
               QStringLiteral("GetAll is not offered for %1; use Get for each property").arg(interface));
        return;
    }
    if (message.isReplyRequired())
        connection.send(message.createReply(QVariant::fromValue(properties)));
}
