#include "ui/platform/AtSpiAdaptorGuard.h"

#include <QAccessibleInterface>
#include <QDBusVariant>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTextBoundaryFinder>
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
const QString valueInterfaceName = QStringLiteral("org.a11y.atspi.Value");
const QString textInterfaceName = QStringLiteral("org.a11y.atspi.Text");
const QString editableTextInterfaceName = QStringLiteral("org.a11y.atspi.EditableText");
const QString atspiInterfacePrefix = QStringLiteral("org.a11y.atspi.");

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

bool isIndex(qint64 value, qint64 count)
{
    return value >= 0 && value < count;
}

bool isOffset(qint64 value, qint64 length)
{
    return value >= 0 && value <= length;
}

// -1 stands for the end of the text.
bool isEndOffset(qint64 value, qint64 length)
{
    return value == -1 || isOffset(value, length);
}

qint64 integerAt(const QVariantList &arguments, int index)
{
    return arguments.value(index).toLongLong();
}

// A value for a Value object: inside its range, and a number at all.
bool valueInRange(QAccessibleInterface &object, const QVariant &value)
{
    QAccessibleValueInterface *range = object.valueInterface();
    if (!range || !range->minimumValue().isValid() || !range->maximumValue().isValid())
        return false;
    bool isNumber = false;
    const double wanted = value.toDouble(&isNumber);
    const double minimum = range->minimumValue().toDouble();
    const double maximum = range->maximumValue().toDouble();
    // Written so that NaN, which compares false with everything, is refused.
    if (!isNumber || !(minimum <= wanted && wanted <= maximum))
        return false;
    return true;
}

// Whether each index, offset or value among the arguments lies inside what
// the object has now. The adaptor hands them to the widgets unchecked, and a
// child, row or cell beyond the end is read through a null pointer. The
// argument types have been checked already.
bool argumentsInRange(QAccessibleInterface &object, const QString &interface, const QString &member,
                      const QVariantList &arguments)
{
    const auto at = [&](int index) { return integerAt(arguments, index); };
    if (interface == accessibleInterface) {
        if (member == QLatin1String("GetChildAtIndex"))
            return isIndex(at(0), object.childCount());
        return true;
    }
    if (interface == QLatin1String("org.a11y.atspi.Table")) {
        QAccessibleTableInterface *table = object.tableInterface();
        if (!table)
            return false;
        const qint64 rows = table->rowCount();
        const qint64 columns = table->columnCount();
        static const QStringList cellMembers {QStringLiteral("GetAccessibleAt"), QStringLiteral("GetIndexAt"),
                                              QStringLiteral("GetRowExtentAt"), QStringLiteral("GetColumnExtentAt"),
                                              QStringLiteral("IsSelected")};
        static const QStringList rowMembers {QStringLiteral("GetRowDescription"), QStringLiteral("GetRowHeader"),
                                             QStringLiteral("IsRowSelected"), QStringLiteral("AddRowSelection"),
                                             QStringLiteral("RemoveRowSelection")};
        static const QStringList columnMembers {QStringLiteral("GetColumnDescription"),
                                                QStringLiteral("GetColumnHeader"), QStringLiteral("IsColumnSelected"),
                                                QStringLiteral("AddColumnSelection"),
                                                QStringLiteral("RemoveColumnSelection")};
        static const QStringList indexMembers {QStringLiteral("GetRowAtIndex"), QStringLiteral("GetColumnAtIndex"),
                                               QStringLiteral("GetRowColumnExtentsAtIndex")};
        if (cellMembers.contains(member))
            return isIndex(at(0), rows) && isIndex(at(1), columns);
        if (rowMembers.contains(member))
            return isIndex(at(0), rows);
        if (columnMembers.contains(member))
            return isIndex(at(0), columns);
        if (indexMembers.contains(member))
            return isIndex(at(0), rows * columns);
        return true;
    }
    if (interface == QLatin1String("org.a11y.atspi.Text") || interface == editableTextInterfaceName) {
        QAccessibleTextInterface *text = object.textInterface();
        if (!text)
            return false;
        const qint64 length = text->characterCount();
        static const QStringList offsetMembers {QStringLiteral("GetTextAfterOffset"),
                                                QStringLiteral("GetTextAtOffset"),
                                                QStringLiteral("GetTextBeforeOffset"),
                                                QStringLiteral("GetCharacterAtOffset"),
                                                QStringLiteral("GetCharacterExtents"),
                                                QStringLiteral("GetAttributes"),
                                                QStringLiteral("GetAttributeRun"),
                                                QStringLiteral("GetAttributeValue"),
                                                QStringLiteral("GetStringAtOffset"),
                                                QStringLiteral("SetCaretOffset"),
                                                QStringLiteral("PasteText")};
        static const QStringList rangeMembers {QStringLiteral("GetText"),
                                               QStringLiteral("GetRangeExtents"),
                                               QStringLiteral("AddSelection"),
                                               QStringLiteral("ScrollSubstringTo"),
                                               QStringLiteral("ScrollSubstringToPoint"),
                                               QStringLiteral("CopyText"),
                                               QStringLiteral("CutText"),
                                               QStringLiteral("DeleteText")};
        static const QStringList selectionMembers {QStringLiteral("GetSelection"), QStringLiteral("RemoveSelection")};
        if (offsetMembers.contains(member))
            return isOffset(at(0), length);
        if (rangeMembers.contains(member))
            return isOffset(at(0), length) && isEndOffset(at(1), length);
        if (selectionMembers.contains(member))
            return isIndex(at(0), text->selectionCount());
        if (member == QLatin1String("SetSelection"))
            return isIndex(at(0), text->selectionCount()) && isOffset(at(1), length) && isEndOffset(at(2), length);
        // The position, then the text and how much of it to insert.
        if (member == QLatin1String("InsertText"))
            return isOffset(at(0), length) && isOffset(at(2), arguments.value(1).toString().size());
        return true;
    }
    if (interface == valueInterfaceName) {
        if (member == QLatin1String("SetCurrentValue"))
            return valueInRange(object, arguments.value(0));
        return true;
    }
    return true;
}

// Qt 6.4's textAtOffset, by word or sentence, looks back from the offset for
// the edge of an item, then forward from there until the end of the text. The
// forward search never ends when the backward one stops on the end (the offset
// is the end, and a word ends there, or any text by sentence) or runs off the
// start (the offset is 0, and a space or a punctuation mark starts the text).
// There the guard answers what Qt looks for: the item that ends at the end, or
// the one that starts at 0. Every other case Qt answers itself.
std::optional<QVariantList> itemQtNeverFinds(QAccessibleTextInterface &text, qint64 offset,
                                             QTextBoundaryFinder::BoundaryType type)
{
    // Qt looks in the text the object gives, which may be shorter than its
    // character count (none at all for a password).
    const QString whole = text.text(0, text.characterCount());
    if (whole.isEmpty() || offset > whole.size())
        return std::nullopt;
    QTextBoundaryFinder finder(type, whole);
    const auto atEdge = [&] {
        return (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem)) != 0;
    };
    finder.setPosition(offset);
    qsizetype start = 0;
    qsizetype end = whole.size();
    if (offset == whole.size() && atEdge()) {
        while (finder.toPreviousBoundary() > 0 && !atEdge()) {}
        start = finder.position();
    } else if (offset == 0 && !atEdge()) {
        while (finder.toNextBoundary() < whole.size() && !atEdge()) {}
        end = finder.position();
    } else {
        return std::nullopt;
    }
    return QVariantList {whole.mid(start, end - start), int(start), int(end)};
}

// The item Qt 6.4 never finds for a Text call that asks for the text around
// an offset by word or sentence, as the adaptor would answer it: (s i i).
std::optional<QVariantList> textItemQtNeverFinds(const QDBusMessage &message)
{
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    const uint kind = arguments.value(1).toUInt();
    std::optional<QTextBoundaryFinder::BoundaryType> type;
    if (member == QLatin1String("GetTextAtOffset")) {
        // AT-SPI's boundaries: character, word start and end, sentence start and end, line start and end.
        if (kind == 1 || kind == 2)
            type = QTextBoundaryFinder::Word;
        else if (kind == 3 || kind == 4)
            type = QTextBoundaryFinder::Sentence;
    } else if (member == QLatin1String("GetStringAtOffset")) {
        // Its granularities: character, word, sentence, line, paragraph.
        if (kind == 1)
            type = QTextBoundaryFinder::Word;
        else if (kind == 2)
            type = QTextBoundaryFinder::Sentence;
    }
    // Before and after an offset, and by line or paragraph, Qt ends on its own.
    if (!type)
        return std::nullopt;
    return itemQtNeverFinds(*interfaceAt(message.path())->textInterface(), integerAt(arguments, 0), *type);
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
    // Arguments after the declared ones are never read, so they may stay.
    const std::optional<QString> declared = declaredSignature(message.path(), interface, member);
    if (declared && !message.signature().startsWith(*declared)) {
        refuse(message, connection, QDBusError::InvalidArgs,
               QStringLiteral("%1.%2 takes arguments of the types \"%3\", not \"%4\"")
                   .arg(interface, member, *declared, message.signature()));
        return true;
    }
    if (interface == propertiesInterface && member == QLatin1String("GetAll")) {
        answerGetAll(message, connection);
        return true;
    }
    if (const std::optional<std::pair<QDBusError::ErrorType, QString>> refusal = refusalOf(message)) {
        refuse(message, connection, refusal->first, refusal->second);
        return true;
    }
    if (interface == valueInterfaceName && member == QLatin1String("SetCurrentValue")) {
        answerSetCurrentValue(message, connection);
        return true;
    }
    // Only a method the adaptor offers: one it lacks stays refused as unknown.
    if (declared && interface == textInterfaceName) {
        if (const std::optional<QVariantList> item = textItemQtNeverFinds(message)) {
            if (message.isReplyRequired())
                connection.send(message.createReply(*item));
            return true;
        }
    }
    return adaptor->handleMessage(message, connection);
}

void AtSpiAdaptorGuard::answerSetCurrentValue(const QDBusMessage &message, const QDBusConnection &connection)
{
    // refusalOf has found the object, its value interface and a value in range.
    interfaceAt(message.path())->valueInterface()->setCurrentValue(message.arguments().at(0));
    if (message.isReplyRequired())
        connection.send(message.createReply());
}

std::optional<std::pair<QDBusError::ErrorType, QString>> AtSpiAdaptorGuard::refusalOf(const QDBusMessage &message) const
{
    const QString interface = message.interface();
    const QString member = message.member();
    const bool isProperties = interface == propertiesInterface;
    if (!isProperties && !interface.startsWith(atspiInterfacePrefix))
        return std::nullopt;
    QAccessibleInterface *object = interfaceAt(message.path());
    if (!object || !object->isValid())
        return std::pair {QDBusError::UnknownObject, QStringLiteral("No accessible object at %1").arg(message.path())};
    const QVariantList arguments = message.arguments();
    const QString target = isProperties ? arguments.value(0).toString() : interface;
    if (!hasInterface(message.path(), target))
        return std::pair {QDBusError::InvalidArgs,
                          QStringLiteral("The object at %1 has no interface %2").arg(message.path(), target)};
    // Qt's text objects take edits from the bus even when read-only, and a
    // service's command or its console would then show what never ran.
    if (interface == editableTextInterfaceName && member != QLatin1String("CopyText") && object->state().readOnly)
        return std::pair {QDBusError::InvalidArgs, QStringLiteral("The text at %1 is read-only").arg(message.path())};
    bool inRange = true;
    if (!isProperties)
        inRange = argumentsInRange(*object, interface, member, arguments);
    else if (member == QLatin1String("Set") && target == valueInterfaceName
             && arguments.value(1).toString() == QLatin1String("CurrentValue"))
        inRange = valueInRange(*object, arguments.value(2).value<QDBusVariant>().variant());
    if (!inRange)
        return std::pair {QDBusError::InvalidArgs,
                          QStringLiteral("%1.%2: an argument lies outside what the object at %3 has")
                              .arg(target, member, message.path())};
    return std::nullopt;
}

bool AtSpiAdaptorGuard::hasInterface(const QString &path, const QString &interface) const
{
    // The adaptor describes each object with the interfaces that object has.
    return introspect(path).contains(QStringLiteral("<interface name=\"") + interface + QLatin1Char('"'));
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
