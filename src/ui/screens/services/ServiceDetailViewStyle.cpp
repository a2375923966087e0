#include "ui/screens/services/ServiceDetailViewStyle.h"

#include "ui/components/AccessibleInterfaces.h"
#include "ui/components/ButtonTextTint.h"
#include "ui/components/EnabledColor.h"
#include "ui/components/FocusMark.h"
#include "ui/components/PaletteFollower.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVariantAnimation>
#include <QPropertyAnimation>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace ServiceDetailStyle {

namespace {

const char *const tintProperty = "detailTint";
const char *const tintSymbolProperty = "detailTintSymbol";

void applyTint(QAbstractButton *button)
{
    const QVariant tint = button->property(tintProperty);
    const QString symbolName = button->property(tintSymbolProperty).toString();
    const QPalette base = QApplication::palette(button);
    const QColor textColor = tint.isValid() ? legibleButtonText(button, Palette::color(Palette::Color(tint.toInt())))
                                            : base.color(QPalette::Active, QPalette::ButtonText);
    const QColor disabledColor = base.color(QPalette::Disabled, QPalette::ButtonText);
    if (tint.isValid()) {
        setEnabledColor(button, QPalette::ButtonText, textColor);
        setEnabledColor(button, QPalette::WindowText, textColor);
    }
    if (symbolName.isEmpty())
        return;
    const qreal ratio = button->devicePixelRatioF();
    QIcon icon;
    icon.addPixmap(symbolPixmap(symbolName, 16, textColor, ratio), QIcon::Normal);
    icon.addPixmap(symbolPixmap(symbolName, 16, disabledColor, ratio), QIcon::Disabled);
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    button->setProperty(symbolNameProperty, symbolName);
}

} // namespace

CapsuleBadge::CapsuleBadge(const QString &text, ThemeColor color, int horizontalPadding, QWidget *parent)
    : QWidget(parent),
      m_text(text),
      m_color(color),
      m_horizontalPadding(horizontalPadding)
{
    setFont(textStyleFont(TextStyle::caption, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void CapsuleBadge::setShown(bool shown)
{
    const bool animating = m_appearing && m_appearing->state() == QAbstractAnimation::Running;
    if (shown == m_shown && !animating && isHidden() != shown)
        return;
    m_shown = shown;
    // Off screen there is nothing to see move: it simply changes.
    if (!parentWidget() || !parentWidget()->isVisible()) {
        if (m_appearing)
            m_appearing->stop();
        m_appearance = shown ? 1 : 0;
        setVisible(shown);
        return;
    }
    if (!m_appearing) {
        m_appearing = new QVariantAnimation(this);
        connect(m_appearing, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_appearance = value.toReal();
            update();
        });
        connect(m_appearing, &QVariantAnimation::finished, this, [this] {
            if (!m_shown)
                hide();
        });
    }
    m_appearing->stop();
    m_appearing->setStartValue(m_appearance);
    m_appearing->setEndValue(shown ? 1.0 : 0.0);
    m_appearing->setDuration(shown ? appearMs : disappearMs);
    m_appearing->setEasingCurve(shown ? QEasingCurve::InOutQuad : QEasingCurve::OutQuad);
    if (shown) {
        if (isHidden())
            m_appearance = 0;
        m_appearing->setStartValue(m_appearance);
        show();
    }
    m_appearing->start();
}

void CapsuleBadge::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void CapsuleBadge::setSymbolName(const QString &symbolName)
{
    m_symbolName = symbolName;
    setProperty(symbolNameProperty, symbolName);
    updateGeometry();
    update();
}

QSize CapsuleBadge::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(m_text) + 2 * m_horizontalPadding;
    if (!m_symbolName.isEmpty())
        width += metrics.height() + 3;
    return {width, metrics.height() + 4};
}

void CapsuleBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_appearance < 1) {
        const qreal scale = 0.94 + 0.06 * m_appearance;
        painter.setOpacity(m_appearance);
        painter.translate(rect().center());
        painter.scale(scale, scale);
        painter.translate(-rect().center());
    }
    const QColor color = m_color.resolve(this);
    const QRectF box = rect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(color, 0.14));
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    qreal x = m_horizontalPadding;
    const int symbolSize = QFontMetrics(font()).height() - 2;
    if (!m_symbolName.isEmpty()) {
        const qreal ratio = devicePixelRatioF();
        painter.drawPixmap(QPointF(x, (box.height() - symbolSize) / 2),
                           symbolPixmap(m_symbolName, symbolSize, color, ratio));
        x += symbolSize + 3;
    }
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(QRectF(x, 0, box.width() - x, box.height()), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

namespace {

// A button, as any other, that also says whether its section is open.
class RowButtonAccessible final : public PressableAccessible {
public:
    using PressableAccessible::PressableAccessible;
    QAccessible::State state() const override
    {
        QAccessible::State state = PressableAccessible::state();
        if (const std::optional<bool> expanded = static_cast<RowButton *>(widget())->isExpanded()) {
            state.expandable = true;
            state.expanded = *expanded;
            state.collapsed = !*expanded;
        }
        return state;
    }
};

} // namespace

RowButton::RowButton(QWidget *parent)
    : QPushButton(parent),
      m_row(new QHBoxLayout(this))
{
    useAccessibleInterface<RowButton, RowButtonAccessible>();
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(8);
}

void RowButton::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void RowButton::addToRow(QWidget *widget, int stretch)
{
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Labels inside a button would otherwise take the button's roles and draw
    // in its text colour, ignoring their own.
    widget->setBackgroundRole(QPalette::Window);
    m_row->addWidget(widget, stretch);
}

QSize RowButton::sizeHint() const
{
    return m_row->sizeHint();
}

QSize RowButton::minimumSizeHint() const
{
    return m_row->minimumSize();
}

void RowButton::paintEvent(QPaintEvent *)
{
    // Plain style: no bezel, only a focus ring for keyboard users.
    if (!hasFocus())
        return;
    QPainter painter(this);
    paintFocusMark(painter, QRectF(rect()), 4, this);
}

void setRevealed(QWidget *content, bool revealed, bool animated)
{
    auto *animation =
        content->findChild<QPropertyAnimation *>(QStringLiteral("revealAnimation"), Qt::FindDirectChildrenOnly);
    const bool running = animation && animation->state() == QAbstractAnimation::Running;
    const bool target =
        content->property("revealTarget").isValid() ? content->property("revealTarget").toBool() : !content->isHidden();
    if (!animated && running && target == revealed)
        return;
    content->setProperty("revealTarget", revealed);
    if (animation)
        animation->stop();
    if (!animated) {
        content->setMaximumHeight(QWIDGETSIZE_MAX);
        content->setVisible(revealed);
        return;
    }
    if (!animation) {
        animation = new QPropertyAnimation(content, "maximumHeight", content);
        animation->setObjectName(QStringLiteral("revealAnimation"));
        animation->setDuration(revealDurationMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        QObject::connect(animation, &QPropertyAnimation::finished, content, [content] {
            const bool shown = content->property("revealTarget").toBool();
            content->setMaximumHeight(QWIDGETSIZE_MAX);
            content->setVisible(shown);
        });
    }
    const int fullHeight = content->hasHeightForWidth() && content->width() > 0
                               ? content->heightForWidth(content->width())
                               : content->sizeHint().height();
    if (revealed) {
        const int from = content->isHidden() ? 0 : content->height();
        content->setMaximumHeight(from);
        content->show();
        animation->setStartValue(from);
        animation->setEndValue(std::max(1, fullHeight));
    } else {
        animation->setStartValue(content->isHidden() ? 0 : content->height());
        animation->setEndValue(0);
    }
    animation->start();
}

void tintButton(QAbstractButton *button, const QString &symbolName, std::optional<Palette::Color> tint)
{
    const bool followed = button->property(tintSymbolProperty).isValid();
    button->setProperty(tintSymbolProperty, symbolName);
    if (tint)
        button->setProperty(tintProperty, int(*tint));
    if (followed)
        applyTint(button);
    else
        followPalette(button, [button] { applyTint(button); });
}

} // namespace ServiceDetailStyle
