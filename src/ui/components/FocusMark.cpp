#include "ui/components/FocusMark.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace {

constexpr qreal markWidth = 2;

} // namespace

QColor focusMarkColor(const QWidget *widget)
{
    return (widget ? widget->palette() : QApplication::palette()).color(QPalette::Active, QPalette::Highlight);
}

void paintFocusMark(QPainter &painter, const QRectF &outline, qreal radius, const QWidget *widget)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(focusMarkColor(widget), markWidth));
    const qreal inset = markWidth / 2;
    painter.drawRoundedRect(outline.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.restore();
}
