#pragma once

#include <QColor>
#include <QRectF>

class QPainter;
class QWidget;

// The keyboard focus mark of the custom-painted controls: a solid outline in
// the palette's highlight, which stands out at 3:1 or more from every surface
// of both themes. A tinted fill alone reads as hover and is too faint to find.
QColor focusMarkColor(const QWidget *widget);
void paintFocusMark(QPainter &painter, const QRectF &outline, qreal radius, const QWidget *widget);
