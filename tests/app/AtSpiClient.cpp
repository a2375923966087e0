#include "AtSpiClient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QQueue>

namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString connectionName = QStringLiteral("velmora-test-a11y");

} // namespace

AtSpiClient::~AtSpiClient()
{
    QDBusConnection::disconnectFromBus(connectionName);
    QDBusConnection::disconnectFromBus(connectionName + QStringLiteral("-session"));
}

bool AtSpiClient::connect(const QString &sessionBusAddress)
{
    const QDBusConnection session =
        QDBusConnection::connectToBus(sessionBusAddress, connectionName + QStringLiteral("-session"));
    QDBusMessage request =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusReply<QString> address = session.call(request, QDBus::Block, 10000);
    if (!address.isValid())
        return false;
    QDBusConnection bus = QDBusConnection::connectToBus(address.value(), connectionName);
    if (!bus.isConnected())
        return false;
    m_bus = bus;
    return true;
}

QList<AtSpiClient::Node> AtSpiClient::children(const Node &node)
{
    QList<Node> result;
    const QDBusMessage reply = m_bus->call(
        QDBusMessage::createMethodCall(node.service, node.path, accessibleInterface, QStringLiteral("GetChildren")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString service;
        QDBusObjectPath path;
        list.beginStructure();
        list >> service >> path;
        list.endStructure();
        result.append({service, path.path()});
    }
    list.endArray();
    return result;
}

QDBusMessage AtSpiClient::call(const Node &node, const QString &interface, const QString &member,
                               const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage request = QDBusMessage::createMethodCall(node.service, node.path, interface, member);
    request.setArguments(arguments);
    return m_bus->call(request, QDBus::Block, timeoutMs);
}

QVariantMap AtSpiClient::allProperties(const Node &node, const QString &interface)
{
    const QDBusMessage reply =
        call(node, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"), {interface});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QVariantMap>(reply.arguments().first());
}

QString AtSpiClient::name(const Node &node)
{
    QDBusMessage request = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    request << accessibleInterface << QStringLiteral("Name");
    const QDBusReply<QDBusVariant> reply = m_bus->call(request);
    return reply.isValid() ? reply.value().variant().toString() : QString();
}

QString AtSpiClient::roleName(const Node &node)
{
    const QDBusReply<QString> reply = m_bus->call(
        QDBusMessage::createMethodCall(node.service, node.path, accessibleInterface, QStringLiteral("GetRoleName")));
    return reply.isValid() ? reply.value() : QString();
}

std::optional<AtSpiClient::Node> AtSpiClient::application(const QString &applicationName)
{
    const Node registry {QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root")};
    for (const Node &candidate : children(registry)) {
        if (name(candidate) == applicationName)
            return candidate;
    }
    return std::nullopt;
}

std::optional<AtSpiClient::Node> AtSpiClient::findNamed(const Node &root, const QString &wanted)
{
    return find(root, QString(), wanted);
}

QRect AtSpiClient::extents(const Node &node)
{
    QDBusMessage request = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"));
    request << quint32(0); // screen coordinates
    const QDBusMessage reply = m_bus->call(request);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QDBusArgument box = reply.arguments().first().value<QDBusArgument>();
    int x = 0, y = 0, width = 0, height = 0;
    box.beginStructure();
    box >> x >> y >> width >> height;
    box.endStructure();
    return {x, y, width, height};
}

std::optional<AtSpiClient::Node> AtSpiClient::find(const Node &root, const QString &role, const QString &wanted)
{
    QQueue<Node> pending;
    pending.enqueue(root);
    while (!pending.isEmpty()) {
        const Node node = pending.dequeue();
        if (name(node) == wanted && (role.isEmpty() || roleName(node) == role))
            return node;
        for (const Node &child : children(node))
            pending.enqueue(child);
    }
    return std::nullopt;
}

int AtSpiClient::actionIndex(const Node &node, const QString &actionName)
{
    // The named action among the node's: a disabled control offers no press
    // (only "SetFocus", when it takes the focus).
    const QString actionInterface = QStringLiteral("org.a11y.atspi.Action");
    const QDBusMessage actions = m_bus->call(
        QDBusMessage::createMethodCall(node.service, node.path, actionInterface, QStringLiteral("GetActions")));
    if (actions.type() != QDBusMessage::ReplyMessage || actions.arguments().isEmpty())
        return -1;
    int found = -1;
    const QDBusArgument list = actions.arguments().first().value<QDBusArgument>();
    list.beginArray();
    for (int index = 0; !list.atEnd(); ++index) {
        QString name, description, keyBinding;
        list.beginStructure();
        list >> name >> description >> keyBinding;
        list.endStructure();
        if (name.compare(actionName, Qt::CaseInsensitive) == 0 && found < 0)
            found = index;
    }
    list.endArray();
    return found;
}

bool AtSpiClient::doAction(const Node &node, const QString &actionName)
{
    const int index = actionIndex(node, actionName);
    if (index < 0)
        return false;
    const QString actionInterface = QStringLiteral("org.a11y.atspi.Action");
    QDBusMessage request =
        QDBusMessage::createMethodCall(node.service, node.path, actionInterface, QStringLiteral("DoAction"));
    request << index;
    const QDBusMessage reply = m_bus->call(request);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

bool AtSpiClient::setText(const Node &node, const QString &text)
{
    QDBusMessage request = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.a11y.atspi.EditableText"), QStringLiteral("SetTextContents"));
    request << text;
    const QDBusMessage reply = m_bus->call(request);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

bool AtSpiClient::has(const Node &node, State state)
{
    const QDBusMessage reply = m_bus->call(
        QDBusMessage::createMethodCall(node.service, node.path, accessibleInterface, QStringLiteral("GetState")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    QList<uint> words;
    reply.arguments().first().value<QDBusArgument>() >> words;
    const int bit = static_cast<int>(state);
    return words.size() > bit / 32 && (words.at(bit / 32) & (1u << (bit % 32))) != 0;
}

QList<AtSpiClient::Node> AtSpiClient::tree(const Node &root)
{
    QList<Node> nodes {root};
    for (qsizetype next = 0; next < nodes.size(); ++next)
        nodes.append(children(nodes.at(next)));
    return nodes;
}
