#include "ui/components/Palette.h"

#include "ui/components/ThemeManager.h"

namespace {
struct Variants {
    QColor light;
    QColor dark;
};

const Variants &variants(Palette::Color color)
{
    static const Variants table[] = {
        {QColor::fromRgbF(0.25f, 0.32f, 0.42f), QColor::fromRgbF(0.54f, 0.64f, 0.78f)},
        {QColor::fromRgbF(0.33f, 0.40f, 0.50f), QColor::fromRgbF(0.64f, 0.72f, 0.84f)},
        {QColor::fromRgbF(0.12f, 0.45f, 0.72f), QColor::fromRgbF(0.38f, 0.67f, 0.92f)},
        {QColor::fromRgbF(0.22f, 0.55f, 0.42f), QColor::fromRgbF(0.44f, 0.78f, 0.61f)},
        {QColor::fromRgbF(0.86f, 0.52f, 0.16f), QColor::fromRgbF(1.00f, 0.72f, 0.36f)},
        {QColor::fromRgbF(0.78f, 0.28f, 0.28f), QColor::fromRgbF(0.94f, 0.45f, 0.45f)},
    };
    return table[static_cast<int>(color)];
}
} // namespace

QColor Palette::color(Color color, bool dark)
{
    const Variants &pair = variants(color);
    return dark ? pair.dark : pair.light;
}

QColor Palette::color(Color color)
{
    return Palette::color(color, ThemeManager::instance().isDark());
}
