#include "ui/services/ProminentButton.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

namespace {

constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 5;

} // namespace

ProminentButton::ProminentButton(const QString &text, Palette::Color tint, QWidget *parent)
    : QPushButton(text, parent), m_tint(tint)
{
    setCursor(Qt::PointingHandCursor);
}

QSize ProminentButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * horizontalPadding, metrics.height() + 2 * verticalPadding};
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
    painter.setPen(isEnabled() ? QColor(Qt::white) : QColor(255, 255, 255, 170));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}
