#include "ui/components/KeyboardRules.h"

#include "ui/components/FocusReveal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QTextEdit>

namespace {

bool isPlainReturn(const QKeyEvent &key)
{
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
           && (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// A key event reaches the focus widget first and then each parent; only that
// first delivery counts.
QWidget *focusedReceiver(QObject *watched)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    return widget && widget == widget->window()->focusWidget() ? widget : nullptr;
}

QAbstractButton *pressableButton(QWidget *widget)
{
    auto *button = qobject_cast<QAbstractButton *>(widget);
    // A check box or radio button holds a form's value: Return there still
    // means the form's default.
    if (qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button))
        return nullptr;
    return button;
}

bool typesNewLines(const QWidget *widget)
{
    if (const auto *text = qobject_cast<const QPlainTextEdit *>(widget))
        return !text->isReadOnly();
    const auto *text = qobject_cast<const QTextEdit *>(widget);
    return text && !text->isReadOnly();
}

// Innermost first, so that each outer area scrolls to where the inner one
// now shows the widget.
void revealInScrollAreas(QWidget *widget)
{
    for (QWidget *ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(ancestor);
        if (area && area->widget() && area->widget()->isAncestorOf(widget))
            FocusReveal::reveal(*area, *widget);
    }
}

bool handleReturn(QWidget *receiver, QKeyEvent *key)
{
    if (!isPlainReturn(*key) || typesNewLines(receiver))
        return false;
    QAbstractButton *button = pressableButton(receiver);
    if (!button && !key->isAutoRepeat())
        return false;
    if (key->type() == QEvent::ShortcutOverride) {
        // Accepted here, the key goes to the widget rather than to a shortcut.
        key->accept();
        return true;
    }
    if (button && !key->isAutoRepeat())
        button->click();
    return true;
}

} // namespace

void KeyboardRules::install()
{
    auto *application = qApp;
    if (!application || application->findChild<KeyboardRules *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    application->installEventFilter(new KeyboardRules(application));
}

bool KeyboardRules::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        if (QWidget *receiver = focusedReceiver(watched))
            return handleReturn(receiver, static_cast<QKeyEvent *>(event));
        return false;
    case QEvent::FocusIn:
        // A click lands on what is shown already.
        if (auto *widget = qobject_cast<QWidget *>(watched);
            widget && static_cast<QFocusEvent *>(event)->reason() != Qt::MouseFocusReason)
            revealInScrollAreas(widget);
        return false;
    default:
        return false;
    }
}
