#pragma once

#include <QAccessible>
#include <QLineEdit>

// A screen reader's text entry: through the accessible interface, no textEdited.
inline void setTextAsAScreenReader(QLineEdit *field, const QString &text)
{
    QAccessible::queryAccessibleInterface(field)->editableTextInterface()->replaceText(0, int(field->text().size()),
                                                                                       text);
}
