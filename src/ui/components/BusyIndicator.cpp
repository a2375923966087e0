#include "ui/components/BusyIndicator.h"

#include "ui/components/ThemeColor.h"

#include <QPainter>

BusyIndicator::BusyIndicator(int diameter, QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(diameter, diameter);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
        if (--m_turnsLeft <= 0)
            m_timer.stop();
    });
}

void BusyIndicator::turn()
{
    m_turnsLeft = 10;
    if (isVisible())
        m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent *)
{
    m_timer.stop();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const QColor color = ThemeColor::secondary().resolve(this);
    painter.setPen(QPen(withOpacity(color, 0.25), 2));
    painter.drawEllipse(box);
    painter.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -m_angle * 16, 100 * 16);
}
