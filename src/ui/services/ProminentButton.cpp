#include "ui/services/ProminentButton.h"

#include "ui/components/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

namespace {

constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 5;
constexpr int symbolSize = 14;
constexpr int symbolGap = 5;

} // namespace

ProminentButton::ProminentButton(const QString &text, Palette::Color tint, QWidget *parent)
    : QPushButton(text, parent), m_tint(tint)
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
    return {metrics.horizontalAdvance(text()) + symbolWidth + 2 * horizontalPadding,
            metrics.height() + 2 * verticalPadding};
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
    const QColor textColor = isEnabled() ? QColor(Qt::white) : QColor(255, 255, 255, 170);
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
