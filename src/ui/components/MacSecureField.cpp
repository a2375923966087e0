#include "ui/components/MacSecureField.h"

#include "ui/components/TextStyle.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

MacSecureField::MacSecureField(const QString &placeholder, bool allowsAutomaticFocus, bool focusOnAppear,
                               QWidget *parent)
    : QLineEdit(parent),
      m_focusOnAppear(focusOnAppear)
{
    setPlaceholderText(placeholder);
    setEchoMode(QLineEdit::Password);
    setAllowsAutomaticFirstResponder(allowsAutomaticFocus || focusOnAppear);
    setFont(monospacedFont(TextStyle::body));
}

void MacSecureField::setBoundText(const QString &text)
{
    if (hasFocus() || this->text() == text)
        return;
    setText(text);
}

void MacSecureField::showEvent(QShowEvent *event)
{
    QLineEdit::showEvent(event);
    if (m_focusOnAppear)
        focusIfNeeded();
}

void MacSecureField::focusIfNeeded()
{
    if (m_didFocus)
        return;
    // After the current layout pass, once per field.
    // The timer's context is the field: nothing runs once it is gone.
    QTimer::singleShot(0, this, [this] {
        if (m_didFocus || !isVisible())
            return;
        setFocus(Qt::OtherFocusReason);
        m_didFocus = true;
    });
}

void MacSecureField::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        Q_EMIT committed();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void MacSecureField::focusInEvent(QFocusEvent *event)
{
    if (!admitFocus(this, event))
        return;
    QLineEdit::focusInEvent(event);
}

void MacSecureField::focusOutEvent(QFocusEvent *event)
{
    noteFocusOut(event);
    QLineEdit::focusOutEvent(event);
}
