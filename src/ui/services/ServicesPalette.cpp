#include "ui/services/ServicesPalette.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

bool isDark()
{
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

namespace ServicesPalette {

QColor green()
{
    return isDark() ? QColor(48, 209, 88) : QColor(36, 160, 70);
}

QColor orange()
{
    return isDark() ? QColor(255, 159, 10) : QColor(224, 120, 0);
}

QColor red()
{
    return isDark() ? QColor(255, 69, 58) : QColor(215, 40, 40);
}

QColor slate()
{
    return isDark() ? QColor(152, 162, 179) : QColor(100, 112, 130);
}

} // namespace ServicesPalette
