#pragma once

#include <QList>

class QLayout;
class QWidget;

// Orders Tab through the widgets of `layout` as the layout shows them, top to
// bottom and left to right, instead of in the order they were created or
// reparented. Widgets added later to a container keep following it.
void setTabOrderFollowingLayout(QLayout *layout);
// The keyboard-focusable widgets of `layout`, in the order it shows them.
QList<QWidget *> focusableWidgetsIn(QLayout *layout);
