#include "app/LaunchSplashSpinner.h"

#include "ui/components/Palette.h"
#include "ui/components/TextStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

LaunchSplashSpinner::LaunchSplashSpinner(QWidget *parent)
    : QWidget(parent),
      m_rotation(new QVariantAnimation(this))
{
    setFixedSize(size, size);
    m_rotation->setStartValue(0.0);
    m_rotation->setEndValue(360.0);
    m_rotation->setDuration(turnMs);
    m_rotation->setLoopCount(-1);
    connect(m_rotation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toReal();
        update();
    });
}

bool LaunchSplashSpinner::isAnimating() const
{
    return m_rotation->state() == QAbstractAnimation::Running;
}

void LaunchSplashSpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_rotation->start();
}

void LaunchSplashSpinner::hideEvent(QHideEvent *event)
{
    m_rotation->stop();
    QWidget::hideEvent(event);
}

void LaunchSplashSpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(1.2, 1.2, -1.2, -1.2);

    QColor track = primaryTextColor();
    track.setAlphaF(0.14f);
    QPen trackPen(track, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter.setPen(trackPen);
    painter.drawEllipse(circle);

    // The arc runs from 0.1 to 0.76 of the circle's path, which starts at
    // three o'clock and goes clockwise.
    painter.translate(circle.center());
    painter.rotate(m_angle);
    painter.translate(-circle.center());
    QPen arcPen(Palette::slate(), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    painter.setPen(arcPen);
    const int start = qRound(-0.1 * 360 * 16);
    const int span = qRound(-(0.76 - 0.1) * 360 * 16);
    painter.drawArc(circle, start, span);
}
