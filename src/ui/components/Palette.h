#pragma once

#include <QColor>

// The six accent colours, each with a light and a dark variant. Read them while
// painting (or through ThemeColor), never cache them: the variant follows
// ThemeManager::isDark() at the moment of the call.
class Palette {
public:
    enum class Color { slate, steel, blue, green, orange, red };

    static QColor color(Color color, bool dark);
    static QColor color(Color color);

    static QColor slate() { return color(Color::slate); }
    static QColor steel() { return color(Color::steel); }
    static QColor blue() { return color(Color::blue); }
    static QColor green() { return color(Color::green); }
    static QColor orange() { return color(Color::orange); }
    static QColor red() { return color(Color::red); }
};
