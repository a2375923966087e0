#include "ui/components/HoverButton.h"

#include "ui/components/ThemeColor.h"

#include <QPainter>

HoverButton::HoverButton(Tint tint, QWidget *parent)
    : QAbstractButton(parent),
      m_tint(tint)
{}

void HoverButton::paintEvent(QPaintEvent *)
{
    if (!underMouse() && !hasFocus() && !isDown())
        return;
    QPainter painter(this);
    const QColor fill =
        withOpacity(palette().color(m_tint.role), isDown() ? m_tint.pressedOpacity : m_tint.hoverOpacity);
    const QRect area = rect().marginsAdded(m_tint.outset);
    if (m_tint.radius <= 0) {
        painter.fillRect(area, fill);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(area), m_tint.radius, m_tint.radius);
}

void HoverButton::enterEvent(QEnterEvent *event)
{
    QAbstractButton::enterEvent(event);
    update();
}

void HoverButton::leaveEvent(QEvent *event)
{
    QAbstractButton::leaveEvent(event);
    update();
}
