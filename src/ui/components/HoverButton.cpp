#include "ui/components/HoverButton.h"

#include "ui/components/FocusMark.h"
#include "ui/components/ThemeColor.h"

#include <QPainter>

HoverButton::HoverButton(Tint tint, QWidget *parent)
    : QAbstractButton(parent),
      m_tint(tint)
{}

void HoverButton::paintEvent(QPaintEvent *)
{
    const bool tinted = underMouse() || isDown();
    if (!tinted && !hasFocus())
        return;
    QPainter painter(this);
    const QRectF area = QRectF(rect()).marginsAdded(QMarginsF(m_tint.outset));
    if (tinted) {
        const QColor fill =
            withOpacity(palette().color(m_tint.role), isDown() ? m_tint.pressedOpacity : m_tint.hoverOpacity);
        if (m_tint.radius <= 0) {
            painter.fillRect(area, fill);
        } else {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawRoundedRect(area, m_tint.radius, m_tint.radius);
        }
    }
    if (hasFocus())
        // The tint may reach past the button, where nothing of it is painted.
        paintFocusMark(painter, area.intersected(QRectF(rect())), m_tint.focusRadius, this);
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
