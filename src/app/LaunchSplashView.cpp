#include "app/LaunchSplashView.h"

#include "app/ApplicationIcon.h"
#include "app/LaunchSplashSpinner.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

LaunchSplashView::LaunchSplashView(QWidget *parent)
    : QWidget(parent),
      m_logo(new QLabel(this)),
      m_spinner(new LaunchSplashSpinner(this)),
      m_logoOpacity(new QGraphicsOpacityEffect(m_logo)),
      m_spinnerOpacity(new QGraphicsOpacityEffect(m_spinner))
{
    m_logo->setFixedSize(logoSize, logoSize);
    m_logo->setAccessibleName(QStringLiteral("Velmora logo"));
    const qreal ratio = devicePixelRatioF();
    QPixmap picture = applicationIcon().pixmap(QSize(logoSize, logoSize), ratio);
    m_logo->setPixmap(picture);
    m_logo->setScaledContents(true);
    m_logoOpacity->setOpacity(0);
    m_logo->setGraphicsEffect(m_logoOpacity);

    m_spinner->setAccessibleName(QStringLiteral("Starting Velmora"));
    m_spinnerOpacity->setOpacity(0);
    m_spinner->setGraphicsEffect(m_spinnerOpacity);
    // Out of the accessibility tree until it fades in: a screen reader would
    // otherwise announce a spinner nobody can see. It keeps its place meanwhile.
    QSizePolicy keepsPlace = m_spinner->sizePolicy();
    keepsPlace.setRetainSizeWhenHidden(true);
    m_spinner->setSizePolicy(keepsPlace);
    m_spinner->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(spacing);
    layout->addStretch();
    layout->addWidget(m_logo, 0, Qt::AlignHCenter);
    layout->addWidget(m_spinner, 0, Qt::AlignHCenter);
    layout->addStretch();
}

void LaunchSplashView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_started || m_isLogoVisible || m_isSpinnerVisible)
        return;
    m_started = true;
    QTimer::singleShot(logoDelayMs, this, &LaunchSplashView::revealLogo);
}

void LaunchSplashView::revealLogo()
{
    m_isLogoVisible = true;
    fade(m_logoOpacity, logoFadeMs, false);
    QTimer::singleShot(spinnerDelayMs, this, &LaunchSplashView::revealSpinner);
}

void LaunchSplashView::revealSpinner()
{
    m_isSpinnerVisible = true;
    m_spinner->show();
    fade(m_spinnerOpacity, spinnerFadeMs, true);
}

void LaunchSplashView::fade(QGraphicsOpacityEffect *effect, int durationMs, bool easeInOut)
{
    auto *animation = new QPropertyAnimation(effect, "opacity", this);
    animation->setDuration(durationMs);
    animation->setStartValue(effect->opacity());
    animation->setEndValue(1.0);
    animation->setEasingCurve(easeInOut ? QEasingCurve::InOutQuad : QEasingCurve::OutQuad);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void LaunchSplashView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}
