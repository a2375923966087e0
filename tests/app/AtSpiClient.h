#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QRect>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

// Drives a running application the way a screen reader does: through the
// accessibility bus (AT-SPI), by the names and roles its widgets expose.
class AtSpiClient {
public:
    struct Node {
        QString service;
        QString path;
    };

    ~AtSpiClient();

    // Connects to the accessibility bus of the session bus at this address
    // (starting it when needed).
    bool connect(const QString &sessionBusAddress);
    // The accessible root of the running application with this name.
    std::optional<Node> application(const QString &name);
    // The first node under `root` (breadth first) with this role name and name.
    std::optional<Node> find(const Node &root, const QString &roleName, const QString &name);
    // Presses the node (a button); false when it offers no press, as a
    // disabled control does.
    bool press(const Node &node) { return doAction(node, QStringLiteral("Press")); }
    bool canPress(const Node &node) { return actionIndex(node, QStringLiteral("Press")) >= 0; }
    // Runs the node's action of this name ("Press", "Toggle"…); false when it
    // offers none.
    bool doAction(const Node &node, const QString &actionName);

    // Where the node is on the screen; empty when it is not shown.
    QRect extents(const Node &node);
    // The first node under `root` with this name, whatever its role.
    std::optional<Node> findNamed(const Node &root, const QString &name);

    // Any call, with whatever arguments, as a client that sends what it likes.
    QDBusMessage call(const Node &node, const QString &interface, const QString &member,
                      const QVariantList &arguments = {}, int timeoutMs = 10000);
    // Every property of one of the node's interfaces, asked for at once (as
    // `gdbus introspect` and inspectors ask); empty when refused.
    QVariantMap allProperties(const Node &node, const QString &interface);
    // Replaces the text of an editable node, as a screen reader's text entry does.
    bool setText(const Node &node, const QString &text);
    // The node's AT-SPI states, one bit each.
    enum class State { selected = 23, showing = 25, visible = 30, readOnly = 43 };
    bool has(const Node &node, State state);
    // Every node under `root` (breadth first), `root` included.
    QList<Node> tree(const Node &root);

    QString name(const Node &node);
    QString roleName(const Node &node);
    QList<Node> children(const Node &node);

private:
    int actionIndex(const Node &node, const QString &actionName);

    std::optional<QDBusConnection> m_bus;
};
