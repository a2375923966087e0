#pragma once

#include <QColor>
#include <QList>

// WCAG 2.1 contrast: what a colour painted with some transparency shows as
// over its background, and how far apart two shown colours are.
namespace ColorContrast {

// The minimum ratios: body text, large text and the marks of controls.
inline constexpr qreal textMinimum = 4.5;
inline constexpr qreal largeTextMinimum = 3.0;
inline constexpr qreal markMinimum = 3.0;
// What a text colour picked by contrast aims at: antialiased glyphs seldom
// reach their full colour, so what shows lands a little under the pick.
inline constexpr qreal textTarget = textMinimum + 0.3;

qreal relativeLuminance(const QColor &color);
// From 1 (same luminance) to 21 (black on white); the order does not matter.
qreal ratio(const QColor &first, const QColor &second);
// `color` with its alpha blended over an opaque `background`.
QColor compositedOver(const QColor &color, const QColor &background);
// White or near-black, whichever reads better on `fill`.
QColor legibleTextOn(const QColor &fill);
// `tint` as it is if it reaches `minimum` on `background`, else the nearest
// lighter (on a dark background) or darker shade of its hue that does.
QColor legibleVariant(const QColor &tint, const QColor &background, qreal minimum = textMinimum);
// The same on every one of `backgrounds`, which must all be light or all dark.
QColor legibleVariant(const QColor &tint, const QList<QColor> &backgrounds, qreal minimum = textMinimum);

} // namespace ColorContrast
