#pragma once

#include <QColor>
#include <QWidget>

// The slate accent until the components' Palette is merged: light and dark
// variants chosen by the lightness of the widget's window colour.
inline QColor interimSlate(const QWidget &widget)
{
    const bool dark = widget.palette().color(QPalette::Window).lightnessF() < 0.5;
    return dark ? QColor::fromRgbF(0.54f, 0.64f, 0.78f) : QColor::fromRgbF(0.25f, 0.32f, 0.42f);
}
