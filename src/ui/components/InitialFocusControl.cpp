#include "ui/components/InitialFocusControl.h"

#include <QFocusEvent>
#include <QWidget>

bool InitialFocusControl::acceptsFocus(Qt::FocusReason reason) const
{
    if (m_allowsAutomatic || !m_suppressing)
        return true;
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
        return true;
    case Qt::PopupFocusReason:
    case Qt::ActiveWindowFocusReason:
        // Coming back to a field that had the focus is not automatic focus.
        return m_hadFocus;
    default:
        return false;
    }
}

bool InitialFocusControl::admitFocus(QWidget *self, QFocusEvent *event)
{
    if (acceptsFocus(event->reason())) {
        m_hadFocus = true;
        return true;
    }
    self->clearFocus();
    return false;
}

void InitialFocusControl::noteFocusOut(QFocusEvent *event)
{
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        m_hadFocus = false;
}
