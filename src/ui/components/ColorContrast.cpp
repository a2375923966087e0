#include "ui/components/ColorContrast.h"

#include <algorithm>
#include <cmath>

namespace ColorContrast {

qreal relativeLuminance(const QColor &color)
{
    const auto linear = [](qreal channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

qreal ratio(const QColor &first, const QColor &second)
{
    const qreal a = relativeLuminance(first);
    const qreal b = relativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor compositedOver(const QColor &color, const QColor &background)
{
    const qreal alpha = color.alphaF();
    const auto blend = [alpha](qreal top, qreal bottom) { return top * alpha + bottom * (1 - alpha); };
    return QColor::fromRgbF(float(blend(color.redF(), background.redF())),
                            float(blend(color.greenF(), background.greenF())),
                            float(blend(color.blueF(), background.blueF())));
}

QColor legibleTextOn(const QColor &fill)
{
    const QColor nearBlack(0x1c, 0x1c, 0x1e);
    return ratio(Qt::white, fill) >= ratio(nearBlack, fill) ? QColor(Qt::white) : nearBlack;
}

QColor legibleVariant(const QColor &tint, const QColor &background, qreal minimum)
{
    const bool lighten = relativeLuminance(background) < 0.18;
    // A little above the minimum: painted colours are rounded to 8 bits a channel.
    const qreal wanted = minimum + 0.05;
    QColor shade = tint.toHsl();
    for (int step = 0; step < 100 && ratio(shade, background) < wanted; ++step) {
        const float next = std::clamp(shade.lightnessF() + (lighten ? 0.01f : -0.01f), 0.0f, 1.0f);
        shade.setHslF(shade.hslHueF(), shade.hslSaturationF(), next, shade.alphaF());
    }
    return shade.toRgb();
}

QColor legibleVariant(const QColor &tint, const QList<QColor> &backgrounds, qreal minimum)
{
    // Each step moves the shade further from every background of the same kind.
    QColor legible = tint;
    for (const QColor &background : backgrounds)
        legible = legibleVariant(legible, background, minimum);
    return legible;
}

} // namespace ColorContrast
