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
    QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
}
