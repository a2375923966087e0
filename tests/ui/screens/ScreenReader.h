#pragma once

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QLineEdit>

// A screen reader's text entry: through the accessible interface, no textEdited.
inline void setTextAsAScreenReader(QLineEdit *field, const QString &text)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
    if (QAccessibleEditableTextInterface *editable = accessible ? accessible->editableTextInterface() : nullptr)
        editable->replaceText(0, int(field->text().size()), text);
}
