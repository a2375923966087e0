#include "ui/components/AccessibleInterfaces.h"

#include <QAbstractButton>

PressableAccessible::PressableAccessible(QWidget *button, QAccessible::Role role)
    : QAccessibleWidget(button, role)
{}

QStringList PressableAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled())
        names.prepend(pressAction());
    return names;
}

void PressableAccessible::doAction(const QString &actionName)
{
    auto *button = qobject_cast<QAbstractButton *>(widget());
    if (actionName == pressAction() && button && button->isEnabled())
        button->click();
    else
        QAccessibleWidget::doAction(actionName);
}
