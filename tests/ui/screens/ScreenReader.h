#pragma once

#include <QAccessible>
#include <QLineEdit>

// A screen reader's text entry: through the accessible interface, no textEdited.
inline void setTextAsAScreenReader(QLineEdit *field, const QString &text)
{
    QAccessible::queryAccessibleInterface(field)->editableTextInterface()->replaceText(0, int(field->text().size()),
                                                                                       text);
}

// A screen reader's Toggle: QAbstractButton::toggle(), no click.
inline void toggleAsAScreenReader(QWidget *button)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
    if (QAccessibleActionInterface *actions = accessible ? accessible->actionInterface() : nullptr)
        actions->doAction(QAccessibleActionInterface::toggleAction());
}
