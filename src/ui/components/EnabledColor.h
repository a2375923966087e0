#pragma once

#include <QPalette>

class QWidget;

// Gives `widget` its own colour for `role` while it is enabled only: a colour
// set for every group would make a disabled control look as live as the rest.
void setEnabledColor(QWidget *widget, QPalette::ColorRole role, const QColor &color);
