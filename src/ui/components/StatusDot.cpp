#include "ui/components/StatusDot.h"

#include <QPainter>

StatusDot::StatusDot(int diameter, ThemeColor color, QWidget *parent)
    : QWidget(parent),
      m_color(color)
{
    setFixedSize(diameter, diameter);
}

void StatusDot::setColor(ThemeColor color, qreal opacity)
{
    m_color = color;
    m_opacity = opacity;
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(m_color.resolve(this), m_opacity));
    painter.drawEllipse(rect());
}
