#pragma once

#include <QAccessible>

class QWidget;

// Gives a plain widget the accessible role of what it stands for: a QWidget
// that is a window reads as "filler" to assistive technologies, not as the
// window or dialog it is. Call first in the constructor, before anything that
// reaches assistive technologies (a name, a title) makes its interface:
//     setAccessibleRole(this, QAccessible::Window);
void setAccessibleRole(QWidget *widget, QAccessible::Role role);
