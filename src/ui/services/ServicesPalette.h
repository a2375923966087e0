#pragma once

#include <QColor>

// The accents the Services screen draws with, until the shared palette is in.
namespace ServicesPalette {

QColor green();
QColor orange();
QColor red();
QColor slate();

} // namespace ServicesPalette
