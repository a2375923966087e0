#include "ui/components/ProminentButton.h"

#include "ui/components/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr int horizontalPadding = 12;
constexpr int minimumVerticalPadding = 3;
constexpr int symbolSize = 14;
constexpr int symbolGap = 5;

qreal relativeLuminance(const QColor &color)
{
    const auto linear = [](qreal channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

// White on the deeper tints of the light theme; the lighter tints of the dark
// theme would leave white text too faint, so they take a near-black one.
QColor labelColor(const QColor &fill)
{
    const QColor dark(0x1c, 0x1c, 0x1e);
    const qreal luminance = relativeLuminance(fill);
    const qreal againstWhite = 1.05 / (luminance + 0.05);
    const qreal againstDark = (luminance + 0.05) / (relativeLuminance(dark) + 0.05);
    return againstWhite >= againstDark ? QColor(Qt::white) : dark;
}

} // namespace

ProminentButton::ProminentButton(const QString &text, Palette::Color tint, QWidget *parent)
    : QPushButton(text, parent),
      m_tint(tint)
{
    setCursor(Qt::PointingHandCursor);
}

void ProminentButton::setSymbolName(const QString &symbolName)
{
    m_symbolName = symbolName;
    setProperty(symbolNameProperty, symbolName);
    updateGeometry();
    update();
}

QSize ProminentButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int symbolWidth = m_symbolName.isEmpty() ? 0 : symbolSize + symbolGap;
    // As tall as the style's own buttons, so a row mixing both stays even.
    const int styleHeight = QPushButton::sizeHint().height();
    return {metrics.horizontalAdvance(text()) + symbolWidth + 2 * horizontalPadding,
            std::max(styleHeight, metrics.height() + 2 * minimumVerticalPadding)};
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Palette::color(m_tint);
    if (isDown())
        fill = fill.darker(115);
    if (!isEnabled())
        fill.setAlphaF(0.4);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(shape, fill);
    if (hasFocus()) {
        QColor ring = Palette::color(m_tint);
        ring.setAlphaF(0.5);
        painter.setPen(QPen(ring, 2));
        painter.drawPath(shape);
    }
    // A dimmed fill is judged as it shows over the window.
    const QColor window = palette().color(QPalette::Window);
    const QColor shown = isEnabled()
                             ? fill
                             : QColor::fromRgbF(window.redF() + (fill.redF() - window.redF()) * fill.alphaF(),
                                                window.greenF() + (fill.greenF() - window.greenF()) * fill.alphaF(),
                                                window.blueF() + (fill.blueF() - window.blueF()) * fill.alphaF());
    QColor textColor = labelColor(shown);
    if (!isEnabled())
        textColor.setAlpha(170);
    painter.setPen(textColor);
    painter.setFont(font());
    if (m_symbolName.isEmpty()) {
        painter.drawText(rect(), Qt::AlignCenter, text());
        return;
    }
    // Symbol and text centred together.
    const int textWidth = QFontMetrics(font()).horizontalAdvance(text());
    const int left = (width() - (symbolSize + symbolGap + textWidth)) / 2;
    painter.drawPixmap(left, (height() - symbolSize) / 2,
                       symbolPixmap(m_symbolName, symbolSize, textColor, devicePixelRatioF()));
    painter.drawText(QRect(left + symbolSize + symbolGap, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}
