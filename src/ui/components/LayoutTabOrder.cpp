#include "ui/components/LayoutTabOrder.h"

#include <QLayout>
#include <QWidget>

namespace {

bool takesTabFocus(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

void appendFocusable(QWidget *widget, QList<QWidget *> &into)
{
    if (takesTabFocus(widget))
        into.append(widget);
    if (QLayout *own = widget->layout()) {
        into.append(focusableWidgetsIn(own));
        return;
    }
    for (QWidget *child : widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            appendFocusable(child, into);
    }
}

} // namespace

QList<QWidget *> focusableWidgetsIn(QLayout *layout)
{
    QList<QWidget *> widgets;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (QWidget *widget = item->widget())
            appendFocusable(widget, widgets);
        else if (QLayout *nested = item->layout())
            widgets.append(focusableWidgetsIn(nested));
    }
    return widgets;
}

void setTabOrderFollowingLayout(QLayout *layout)
{
    const QList<QWidget *> widgets = focusableWidgetsIn(layout);
    for (qsizetype i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets.at(i - 1), widgets.at(i));
}
