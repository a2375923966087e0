#pragma once

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QWidget>

#include <gtest/gtest.h>

// Replaces a field's whole text the way the accessibility bridge does for a
// screen reader's text entry: through the field's accessible interface, with
// no key event and no textEdited.
inline void setTextAsAScreenReader(QWidget *field, const QString &text)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
    QAccessibleEditableTextInterface *editable = accessible ? accessible->editableTextInterface() : nullptr;
    QAccessibleTextInterface *current = accessible ? accessible->textInterface() : nullptr;
    ASSERT_TRUE(editable && current) << "no editable text";
    editable->replaceText(0, current->characterCount(), text);
}
