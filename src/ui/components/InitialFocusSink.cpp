#include "ui/components/InitialFocusSink.h"

#include "ui/components/InitialFocusControl.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>

InitialFocusSink::InitialFocusSink(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(0, 0);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(QString());
}

void InitialFocusSink::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    claimInitialFocus();
}

void InitialFocusSink::claimInitialFocus()
{
    if (m_didSetInitialFocus)
        return;
    QWidget *w = window();
    if (w->isActiveWindow()) {
        claimFocusOnce();
        return;
    }
    stopObserving();
    m_observedWindow = w;
    w->installEventFilter(this);
}

bool InitialFocusSink::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_observedWindow && event->type() == QEvent::WindowActivate)
        claimFocusOnce();
    return QWidget::eventFilter(watched, event);
}

void InitialFocusSink::stopObserving()
{
    if (m_observedWindow)
        m_observedWindow->removeEventFilter(this);
    m_observedWindow = nullptr;
}

void InitialFocusSink::claimFocusOnce()
{
    if (m_didSetInitialFocus)
        return;
    m_didSetInitialFocus = true;
    stopObserving();
    // After the activation's own focus handling has run.
    QTimer::singleShot(0, this, [this] {
        QWidget *w = window();
        if (!isVisible())
            return;
        // The focus starts here: a screen reader names the window that opened.
        setAccessibleName(w->windowTitle());
        if (shouldTakeFocus(w->focusWidget())) {
            if (QWidget *current = w->focusWidget(); current && current != this)
                current->clearFocus();
            setFocus(Qt::OtherFocusReason);
        }
        const QList<QWidget *> widgets = w->findChildren<QWidget *>();
        for (QWidget *child : widgets) {
            if (auto *control = dynamic_cast<InitialFocusControl *>(child))
                control->setSuppressingInitialAutomaticFocus(false);
        }
    });
}

bool InitialFocusSink::shouldTakeFocus(const QWidget *current) const
{
    if (!current)
        return true;
    if (current == this)
        return false;
    if (current == window())
        return true;
    if (qobject_cast<const QLineEdit *>(current))
        return true;
    // Text views: they live in scroll areas here.
    return qobject_cast<const QTextEdit *>(current) || qobject_cast<const QPlainTextEdit *>(current);
}
