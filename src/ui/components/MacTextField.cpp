#include "ui/components/MacTextField.h"

#include "ui/components/TextStyle.h"

#include <QFocusEvent>

MacTextField::MacTextField(const QString &placeholder, Style style, bool isMonospaced, bool allowsAutomaticFocus,
                           QWidget *parent)
    : QLineEdit(parent)
{
    setPlaceholderText(placeholder);
    setAllowsAutomaticFirstResponder(allowsAutomaticFocus);
    if (isMonospaced)
        setFont(monospacedFont(TextStyle::body));
    setStyle(style);
}

void MacTextField::setStyle(Style style)
{
    m_style = style;
    const bool rounded = style == Style::rounded;
    setFrame(rounded);
    setAttribute(Qt::WA_MacShowFocusRect, rounded);
    if (rounded) {
        setPalette(QPalette());
    } else {
        QPalette clear = palette();
        clear.setColor(QPalette::Base, Qt::transparent);
        setPalette(clear);
    }
}

void MacTextField::setBoundText(const QString &text)
{
    if (isBeingEdited() || this->text() == text)
        return;
    setText(text);
}

void MacTextField::focusInEvent(QFocusEvent *event)
{
    if (!admitFocus(this, event))
        return;
    QLineEdit::focusInEvent(event);
}

void MacTextField::focusOutEvent(QFocusEvent *event)
{
    noteFocusOut(event);
    QLineEdit::focusOutEvent(event);
}
