#include "ui/components/FocusMark.h"
#include "ui/components/SelectableSidebarRow.h"

#include "ui/components/AccessibleInterfaces.h"
#include "ui/components/Palette.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"

#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVariantAnimation>

namespace {

class SidebarRowAccessible final : public PressableAccessible {
public:
    using PressableAccessible::PressableAccessible;
    QString text(QAccessible::Text t) const override
    {
        auto *row = static_cast<SelectableSidebarRow *>(widget());
        if (t == QAccessible::Value)
            return row->accessibleValue();
        if (t == QAccessible::Name && row->accessibleName().isEmpty())
            return row->text();
        return PressableAccessible::text(t);
    }
    // The value is what the section's design reads; AT-SPI carries no value
    // for a button, so the current row also says it is selected as a state.
    QAccessible::State state() const override
    {
        QAccessible::State state = PressableAccessible::state();
        state.selectable = true;
        state.selected = static_cast<SelectableSidebarRow *>(widget())->isSelected();
        return state;
    }
};

} // namespace

SelectableSidebarRow::SelectableSidebarRow(QWidget *parent)
    : QAbstractButton(parent)
{
    useAccessibleInterface<SelectableSidebarRow, SidebarRowAccessible>();
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_content = new QHBoxLayout(this);
    m_content->setContentsMargins(10, 7, 10, 7);
    m_content->setSpacing(8);
    m_fill = QColor(0, 0, 0, 0);
    m_fillAnimation = new QVariantAnimation(this);
    m_fillAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fillAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_fill = value.value<QColor>();
        update();
    });
    m_fillAnimation->setStartValue(QColor());
    connect(this, &QAbstractButton::pressed, this, [this] { refresh(80); });
    connect(this, &QAbstractButton::released, this, [this] { refresh(80); });
    connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, this, [this] {
        applyForeground();
        refresh(0);
    });
}

QColor SelectableSidebarRow::fillFor(bool pressed, bool selected, bool hovered, const QColor &slate)
{
    if (pressed)
        return withOpacity(slate, 0.18);
    if (selected)
        return withOpacity(slate, 0.12);
    if (hovered)
        return withOpacity(slate, 0.06);
    return QColor(0, 0, 0, 0);
}

QColor SelectableSidebarRow::targetFill() const
{
    return fillFor(isDown(), m_selected, m_hovered, Palette::slate());
}

QString SelectableSidebarRow::accessibleValue() const
{
    return m_selected ? QStringLiteral("Selected") : QString();
}

void SelectableSidebarRow::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    applyForeground();
    refresh(120);
    QAccessibleValueChangeEvent change(this, accessibleValue());
    QAccessible::updateAccessibility(&change);
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent stateChange(this, changed);
    QAccessible::updateAccessibility(&stateChange);
}

void SelectableSidebarRow::refresh(int animationMs)
{
    const QColor target = targetFill();
    // Pressed rows dim as a whole, content included.
    if (isDown() && !graphicsEffect()) {
        auto *dim = new QGraphicsOpacityEffect(this);
        dim->setOpacity(0.82);
        setGraphicsEffect(dim);
    } else if (!isDown() && graphicsEffect()) {
        setGraphicsEffect(nullptr);
    }
    m_fillAnimation->stop();
    if (animationMs <= 0 || !isVisible()) {
        m_fill = target;
        update();
        return;
    }
    m_fillAnimation->setDuration(animationMs);
    m_fillAnimation->setStartValue(m_fill);
    m_fillAnimation->setEndValue(target);
    m_fillAnimation->start();
}

void SelectableSidebarRow::applyForeground()
{
    if (m_applyingForeground)
        return;
    m_applyingForeground = true;
    if (m_selected) {
        QPalette own;
        own.setColor(QPalette::WindowText, Palette::slate());
        own.setColor(QPalette::Text, Palette::slate());
        own.setColor(QPalette::ButtonText, Palette::slate());
        setPalette(own);
    } else if (testAttribute(Qt::WA_SetPalette)) {
        setPalette(QPalette());
    }
    m_applyingForeground = false;
}

void SelectableSidebarRow::changeEvent(QEvent *event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_selected && !m_applyingForeground
        && palette().color(QPalette::WindowText) != Palette::slate())
        applyForeground();
}

void SelectableSidebarRow::enterEvent(QEnterEvent *event)
{
    QAbstractButton::enterEvent(event);
    m_hovered = true;
    refresh(120);
}

void SelectableSidebarRow::leaveEvent(QEvent *event)
{
    QAbstractButton::leaveEvent(event);
    m_hovered = false;
    refresh(120);
}

QSize SelectableSidebarRow::sizeHint() const
{
    return m_content->sizeHint();
}

QSize SelectableSidebarRow::minimumSizeHint() const
{
    return m_content->minimumSize();
}

void SelectableSidebarRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_fill.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_fill);
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    if (hasFocus())
        paintFocusMark(painter, QRectF(rect()), 8, this);
}
