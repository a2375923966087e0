#include "ui/components/ServiceStatusActionCard.h"

#include "ui/components/AccessibleInterfaces.h"
#include "ui/components/FocusMark.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {
constexpr int horizontalPadding = 14;
constexpr int verticalPadding = 13;
constexpr qreal radius = 14;

QFont titleFont()
{
    return textStyleFont(TextStyle::subheadline, QFont::DemiBold);
}
QFont countFont()
{
    return tabularDigitsFont(textStyleFont(TextStyle::title, QFont::DemiBold));
}
// A button, as any other, whose shown popup is its last child.
class CardAccessible final : public PressableAccessible {
public:
    using PressableAccessible::PressableAccessible;
    QWidget *popup() const { return static_cast<ServiceStatusActionCard *>(widget())->accessiblePopup(); }
    int childCount() const override { return QAccessibleWidget::childCount() + (popup() ? 1 : 0); }
    QAccessibleInterface *child(int index) const override
    {
        if (popup() && index == QAccessibleWidget::childCount())
            return QAccessible::queryAccessibleInterface(popup());
        return QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (child && popup() && child->object() == popup())
            return QAccessibleWidget::childCount();
        return QAccessibleWidget::indexOfChild(child);
    }
};

} // namespace

ServiceStatusActionCard::ServiceStatusActionCard(const QString &title, int count, ThemeColor tint, bool isHighlighted,
                                                 QWidget *parent)
    : QAbstractButton(parent),
      m_count(count),
      m_tint(tint),
      m_highlighted(isHighlighted),
      m_drawnCount(count)
{
    useAccessibleInterface<ServiceStatusActionCard, CardAccessible>();
    setText(title);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setProperty(symbolNameProperty, QStringLiteral("chevron.right"));
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(pressAnimationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setPressProgress(value.toReal()); });
    m_countAnimation = new QVariantAnimation(this);
    m_countAnimation->setDuration(countAnimationMs);
    m_countAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_countAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_drawnCount = value.toInt();
        update();
    });
    connect(this, &QAbstractButton::pressed, this, [this] { animatePress(true); });
    connect(this, &QAbstractButton::released, this, [this] { animatePress(false); });
}

void ServiceStatusActionCard::setAccessiblePopup(QWidget *popup)
{
    m_accessiblePopup = popup;
}

QWidget *ServiceStatusActionCard::accessiblePopup() const
{
    QWidget *popup = m_accessiblePopup.data();
    return popup && popup->isVisible() ? popup : nullptr;
}

void ServiceStatusActionCard::setCount(int count)
{
    if (count == m_count)
        return;
    m_count = count;
    m_countAnimation->stop();
    if (isVisible()) {
        m_countAnimation->setStartValue(m_drawnCount);
        m_countAnimation->setEndValue(count);
        m_countAnimation->start();
    } else {
        m_drawnCount = count;
    }
    updateGeometry();
    update();
}

void ServiceStatusActionCard::setTint(ThemeColor tint)
{
    m_tint = tint;
    update();
}

void ServiceStatusActionCard::setHighlighted(bool highlighted)
{
    if (highlighted == m_highlighted)
        return;
    m_highlighted = highlighted;
    update();
}

void ServiceStatusActionCard::setPressProgress(qreal progress)
{
    m_pressProgress = progress;
    update();
}

void ServiceStatusActionCard::animatePress(bool down)
{
    m_animation->stop();
    m_animation->setStartValue(m_pressProgress);
    m_animation->setEndValue(down ? 1.0 : 0.0);
    m_animation->start();
}

QSize ServiceStatusActionCard::sizeHint() const
{
    const QFontMetrics title(titleFont());
    const QFontMetrics count(countFont());
    const int contentHeight = title.height() + 8 + count.height();
    const int width =
        horizontalPadding * 2
        + std::max(8 + 7 + title.horizontalAdvance(text()), count.horizontalAdvance(QString::number(m_count))) + 12
        + 12;
    return {width, verticalPadding * 2 + contentHeight};
}

QSize ServiceStatusActionCard::minimumSizeHint() const
{
    return {horizontalPadding * 2 + 60, sizeHint().height()};
}

bool ServiceStatusActionCard::hitButton(const QPoint &position) const
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius, radius);
    return shape.contains(position);
}

void ServiceStatusActionCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(drawnOpacity());
    const QPointF centre = QRectF(rect()).center();
    painter.translate(centre);
    painter.scale(drawnScale(), drawnScale());
    painter.translate(-centre);

    const QColor tint = m_tint.resolve(this);
    const QColor primary = palette().color(QPalette::WindowText);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(m_highlighted ? withOpacity(tint, 0.45) : withOpacity(primary, 0.12), 1));
    painter.setBrush(m_highlighted ? withOpacity(tint, 0.12) : ThemeColor::controlBackground().resolve(this));
    painter.drawRoundedRect(card, radius - 0.5, radius - 0.5);

    const QFontMetrics titleMetrics(titleFont());
    const QFontMetrics countMetrics(countFont());
    const int contentHeight = titleMetrics.height() + 8 + countMetrics.height();
    const int top = (height() - contentHeight) / 2;
    const int chevronSize = symbolPixelSize(TextStyle::caption);
    const int textRight = width() - horizontalPadding - chevronSize - 12;

    painter.setPen(Qt::NoPen);
    painter.setBrush(tint);
    painter.drawEllipse(QRectF(horizontalPadding, top + (titleMetrics.height() - 8) / 2.0, 8, 8));
    painter.setFont(titleFont());
    painter.setPen(ThemeColor::secondary().resolve(primary));
    const QRect titleRect(horizontalPadding + 8 + 7, top, textRight - horizontalPadding - 15, titleMetrics.height());
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(text(), Qt::ElideRight, titleRect.width()));
    painter.setFont(countFont());
    painter.setPen(primary);
    painter.drawText(
        QRect(horizontalPadding, top + titleMetrics.height() + 8, textRight - horizontalPadding, countMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, QString::number(m_drawnCount));
    const QPixmap chevron = symbolPixmap(QStringLiteral("chevron.right"), chevronSize,
                                         ThemeColor::tertiary().resolve(primary), devicePixelRatioF());
    painter.drawPixmap(QPointF(width() - horizontalPadding - chevronSize, (height() - chevronSize) / 2.0), chevron);
    if (hasFocus())
        paintFocusMark(painter, QRectF(rect()), radius, this);
}
