#include "ui/components/TextStyle.h"

#include "ui/components/ThemeColor.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QFontInfo>

namespace {

qreal sizeFactor(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle:
        return 2.0;
    case TextStyle::title:
        return 1.6;
    case TextStyle::title2:
        return 1.3;
    case TextStyle::title3:
        return 1.15;
    case TextStyle::headline:
    case TextStyle::body:
        return 1.0;
    case TextStyle::callout:
        return 0.92;
    case TextStyle::subheadline:
        return 0.85;
    case TextStyle::footnote:
    case TextStyle::caption:
        return 0.8;
    case TextStyle::caption2:
        return 0.75;
    }
    return 1.0;
}

QFont scaled(QFont font, const QFont &base, TextStyle style)
{
    const qreal factor = sizeFactor(style);
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(1, qRound(base.pixelSize() * factor)));
    return font;
}

} // namespace

QFont textStyleFont(TextStyle style)
{
    return textStyleFont(style, style == TextStyle::headline ? QFont::DemiBold : QFont::Normal);
}

QFont textStyleFont(TextStyle style, QFont::Weight weight)
{
    const QFont base = QApplication::font();
    QFont font = scaled(base, base, style);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(TextStyle style, QFont::Weight weight)
{
    QFont font = scaled(QFontDatabase::systemFont(QFontDatabase::FixedFont), QApplication::font(), style);
    font.setWeight(weight);
    return font;
}

bool hasTabularDigits(const QFont &font)
{
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (!qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(digit)), zero))
            return false;
    }
    return true;
}

QFont tabularDigitsFont(const QFont &font)
{
    if (hasTabularDigits(font))
        return font;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (font.pixelSize() > 0)
        fixed.setPixelSize(font.pixelSize());
    else
        fixed.setPointSizeF(font.pointSizeF());
    fixed.setWeight(font.weight());
    return fixed;
}

int symbolPixelSize(TextStyle style)
{
    return QFontInfo(textStyleFont(style)).pixelSize() + 2;
}

QColor primaryTextColor()
{
    return ThemeColor::primary().resolve();
}

QColor secondaryTextColor()
{
    return ThemeColor::secondary().resolve();
}

QColor tertiaryTextColor()
{
    return ThemeColor::tertiary().resolve();
}
