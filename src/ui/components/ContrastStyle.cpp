#include "ui/components/ContrastStyle.h"

#include "ui/components/FocusMark.h"
#include "ui/components/ThemeColor.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

ContrastStyle::ContrastStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{}

QColor ContrastStyle::checkBoxBorderColor(const QPalette &palette)
{
    return ThemeColor::tertiary().resolve(palette.color(QPalette::Active, QPalette::WindowText));
}

void ContrastStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const
{
    const bool enabled = option->state & State_Enabled;
    if (element == PE_FrameFocusRect && enabled) {
        paintFocusMark(*painter, QRectF(option->rect), 3, widget);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_IndicatorCheckBox && enabled) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(checkBoxBorderColor(option->palette), 1));
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
}

void ContrastStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                const QWidget *widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    // Focus that came by keyboard, as Fusion marks it; a click leaves no ring.
    const State focused = State_HasFocus | State_KeyboardFocusChange | State_Enabled;
    if (element == CE_PushButton && (option->state & focused) == focused)
        paintFocusMark(*painter, QRectF(option->rect), 3, widget);
}
