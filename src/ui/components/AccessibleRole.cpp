#include "ui/components/AccessibleRole.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace {

constexpr char roleProperty[] = "velmoraAccessibleRole";

QAccessibleInterface *roleAccessibleFactory(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void setAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(roleAccessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    widget->setProperty(roleProperty, static_cast<int>(role));
}
