#include "ui/components/SurfaceCard.h"

#include "ui/components/ThemeColor.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

SurfaceCard::SurfaceCard(int padding, QWidget *parent)
    : QWidget(parent),
      m_padding(padding)
{
    m_layout = new QVBoxLayout(this);
    // The shadow lies outside the card: the layout starts inside the card.
    m_layout->setContentsMargins(padding + shadowMargin, padding + shadowMargin / 2, padding + shadowMargin,
                                 padding + shadowMargin + shadowMargin / 2);
    m_layout->setSpacing(8);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QColor SurfaceCard::fillColor() const
{
    return ThemeColor::cardBackground().resolve();
}

void paintSurfaceCard(QPainter &painter, const QRectF &rect, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Shadow: black at 0.08 overall, 8 wide, 2 down, built from a few soft rings.
    painter.setPen(Qt::NoPen);
    constexpr int rings = 6;
    for (int i = rings; i >= 1; --i) {
        const qreal grow = i * 8.0 / rings;
        painter.setBrush(QColor(0, 0, 0, int(255 * 0.08 / rings * 1.6)));
        painter.drawRoundedRect(rect.translated(0, 2).adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
                                radius + grow / 2, radius + grow / 2);
    }
    painter.setBrush(ThemeColor::cardBackground().resolve());
    painter.drawRoundedRect(rect, radius, radius);
    // Border inside the edge: the primary colour at 0.06.
    QPen border(withOpacity(ThemeColor::primary().resolve(), 0.06), 1);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    painter.restore();
}

void SurfaceCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF card =
        QRectF(rect()).adjusted(shadowMargin, shadowMargin / 2.0, -shadowMargin, -(shadowMargin + shadowMargin / 2.0));
    paintSurfaceCard(painter, card, cornerRadius);
}
