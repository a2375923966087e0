#include "ui/services/ServicesFonts.h"

#include <QApplication>

namespace ServicesFonts {

namespace {

qreal factor(Style style)
{
    switch (style) {
    case Style::title2:
        return 1.3;
    case Style::title3:
        return 1.15;
    case Style::headline:
    case Style::body:
        return 1.0;
    case Style::callout:
        return 0.92;
    case Style::subheadline:
        return 0.85;
    case Style::caption:
        return 0.8;
    case Style::caption2:
        return 0.75;
    }
    return 1.0;
}

} // namespace

QFont font(Style style, QFont::Weight weight)
{
    QFont result = QApplication::font();
    const qreal base = result.pointSizeF() > 0 ? result.pointSizeF() : 10.0;
    result.setPointSizeF(base * factor(style));
    result.setWeight(style == Style::headline && weight == QFont::Normal ? QFont::DemiBold : weight);
    return result;
}

} // namespace ServicesFonts
