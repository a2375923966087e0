#include "ui/components/FocusReveal.h"

#include <QScrollArea>
#include <QScrollBar>

namespace {

// Room kept around a revealed control when the viewport has it, as Qt keeps.
constexpr int margin = 50;

// The scroll value along one axis that shows [start, end) of the content in
// a viewport `extent` long now scrolled to `value`, moving as little as it can.
int valueShowing(int value, int start, int end, int extent)
{
    if (end - start + 2 * margin <= extent) {
        start -= margin;
        end += margin;
    }
    if (end - start > extent || start < value)
        return start;
    if (end > value + extent)
        return end - extent;
    return value;
}

} // namespace

namespace FocusReveal {

void reveal(QScrollArea &area, QWidget &focused)
{
    QWidget *content = area.widget();
    if (!content || !content->isAncestorOf(&focused))
        return;
    const QRect shown(focused.mapTo(content, QPoint(0, 0)), focused.size());
    const QSize extent = area.viewport()->size();
    if (area.verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) {
        QScrollBar *bar = area.verticalScrollBar();
        bar->setValue(valueShowing(bar->value(), shown.top(), shown.bottom() + 1, extent.height()));
    }
    if (area.horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) {
        QScrollBar *bar = area.horizontalScrollBar();
        bar->setValue(valueShowing(bar->value(), shown.left(), shown.right() + 1, extent.width()));
    }
}

} // namespace FocusReveal
