#include "ui/components/ClickOutsideEditingMonitor.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

QPointer<ClickOutsideEditingMonitor> &monitorSlot()
{
    static QPointer<ClickOutsideEditingMonitor> slot;
    return slot;
}

bool isTextInput(const QWidget *widget)
{
    if (auto *line = qobject_cast<const QLineEdit *>(widget))
        return !line->isReadOnly();
    if (auto *text = qobject_cast<const QTextEdit *>(widget))
        return !text->isReadOnly();
    if (auto *plain = qobject_cast<const QPlainTextEdit *>(widget))
        return !plain->isReadOnly();
    return false;
}

QWidget *widgetOfWindow(QWindow *window)
{
    const QList<QWidget *> topLevels = QApplication::topLevelWidgets();
    for (QWidget *widget : topLevels) {
        if (widget->windowHandle() == window)
            return widget;
    }
    return nullptr;
}

} // namespace

void installClickOutsideEditingMonitor()
{
    QPointer<ClickOutsideEditingMonitor> &slot = monitorSlot();
    if (slot || !qApp)
        return;
    slot = new ClickOutsideEditingMonitor(qApp);
    qApp->installEventFilter(slot);
}

void endEditingInKeyWindow()
{
    QWidget *window = QApplication::activeWindow();
    // A dialog that was just answered stays the active window until the window
    // system says otherwise; the window it belonged to is the one being edited.
    while (window && window->isHidden() && window->parentWidget())
        window = window->parentWidget()->window();
    if (!window)
        return;
    QTimer::singleShot(0, window, [target = QPointer<QWidget>(window)] {
        if (!target)
            return;
        if (QWidget *focused = target->focusWidget())
            focused->clearFocus();
    });
}

ClickOutsideEditingMonitor *ClickOutsideEditingMonitor::installed()
{
    return monitorSlot();
}

ClickOutsideEditingMonitor::ClickOutsideEditingMonitor(QObject *parent)
    : QObject(parent)
{}

bool ClickOutsideEditingMonitor::eventFilter(QObject *watched, QEvent *event)
{
    // A press reaches the window first and then each widget it propagates to;
    // only the window's copy is looked at, so each press counts once.
    if (event->type() == QEvent::MouseButtonPress && watched->isWindowType()) {
        auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() == Qt::LeftButton) {
            if (QWidget *window = widgetOfWindow(static_cast<QWindow *>(watched))) {
                ++m_handledPresses;
                handleMouseDownForEditing(window, press->scenePosition());
            }
        }
    }
    return false;
}

QWidget *ClickOutsideEditingMonitor::activeEditingControl(QWidget *window)
{
    if (!window)
        return nullptr;
    QWidget *focused = window->focusWidget();
    if (!focused || !focused->hasFocus() || !isTextInput(focused))
        return nullptr;
    return focused;
}

void ClickOutsideEditingMonitor::handleMouseDownForEditing(QWidget *window, const QPointF &windowPosition)
{
    QWidget *control = activeEditingControl(window);
    if (!control)
        return;
    // A text view's scroll area includes its scroll bar and border: all inside.
    const QRect inWindow(control->mapTo(window, QPoint(0, 0)), control->size());
    if (inWindow.contains(windowPosition.toPoint()))
        return;
    QTimer::singleShot(0, this, [control = QPointer<QWidget>(control), window = QPointer<QWidget>(window)] {
        if (control && window)
            endEditingIfStillActive(control, window);
    });
}

bool ClickOutsideEditingMonitor::isStillEditing(QWidget *control, QWidget *window)
{
    return window->focusWidget() == control && control->hasFocus();
}

void ClickOutsideEditingMonitor::endEditingIfStillActive(QWidget *control, QWidget *window)
{
    if (!isStillEditing(control, window))
        return;
    // Losing the focus commits the edit (editingFinished) and hides the cursor.
    control->clearFocus();
}
