#pragma once

#include <QAccessible>
#include <QDBusError>
#include <QDBusVirtualObject>
#include <QHash>
#include <QPointer>

#include <optional>
#include <utility>

// Stands in front of Qt's accessibility adaptor on the AT-SPI bus. Qt 6.4's
// adaptor reads the arguments of every call without checking that they are
// there: org.freedesktop.DBus.Properties.GetAll (one argument where it reads
// two), sent by `gdbus introspect` and accessibility inspectors, or any call
// with too few arguments, ends the application with SIGSEGV. The guard
// answers GetAll itself, refuses with InvalidArgs the calls that do not start
// with the arguments the adaptor declares, and hands everything else on.
// Nor does the adaptor check what the arguments name: a child, row, column or
// cell past the end, or an interface the object lacks, is read through a null
// pointer. The guard answers UnknownObject for a path that names no live
// object, and InvalidArgs for an interface the object lacks (through
// Properties too) and for an index, text offset or value outside what the
// object has now. The adaptor reads Value.SetCurrentValue's one argument as
// if the call were Properties.Set (three arguments), so the guard sets the
// value itself. Asked for the word or sentence at the end of a text, or at
// its start before a space, Qt 6.4's text search never ends; the guard
// answers those itself. It refuses every edit of a read-only text, which
// the adaptor would make.
class AtSpiAdaptorGuard final : public QDBusVirtualObject, public QAccessible::ActivationObserver {
    Q_OBJECT
public:
    // Once per process, after the application object exists: takes the
    // adaptor's place now or as soon as accessibility comes on.
    static void install();

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    void accessibilityActiveChanged(bool active) override;

private:
    AtSpiAdaptorGuard();
    ~AtSpiAdaptorGuard() override;

    void takeAdaptorsPlace();
    // The argument types the adaptor declares for a method; none when it
    // declares no such method.
    std::optional<QString> declaredSignature(const QString &path, const QString &interface, const QString &member);
    void answerGetAll(const QDBusMessage &message, const QDBusConnection &connection);
    void answerSetCurrentValue(const QDBusMessage &message, const QDBusConnection &connection);
    // The error to answer instead of handing the call on, if any.
    std::optional<std::pair<QDBusError::ErrorType, QString>> refusalOf(const QDBusMessage &message) const;
    bool hasInterface(const QString &path, const QString &interface) const;

    QPointer<QDBusVirtualObject> m_adaptor;
    QHash<QString, QString> m_signatures; // "interface.member" → argument types
    QHash<QString, bool> m_introspectedInterfaces;
};
