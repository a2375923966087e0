#include "ui/components/MacMultilineTextField.h"

#include "ui/components/TextStyle.h"

#include <QFocusEvent>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextFrameFormat>

MacMultilineTextField::MacMultilineTextField(int minHeight, bool allowsAutomaticFocus, QWidget *parent)
    : QTextEdit(parent),
      m_minHeight(minHeight)
{
    setAllowsAutomaticFirstResponder(allowsAutomaticFocus);
    setAcceptRichText(false);
    setUndoRedoEnabled(true);
    setFont(monospacedFont(TextStyle::body));
    setLineWrapMode(QTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTabChangesFocus(true);
    // Room inside the 1 px frame for the second pixel of the focus mark.
    setViewportMargins(1, 1, 1, 1);
    QTextFrameFormat frame = document()->rootFrame()->frameFormat();
    frame.setLeftMargin(4);
    frame.setRightMargin(4);
    frame.setTopMargin(6);
    frame.setBottomMargin(6);
    document()->setDocumentMargin(0);
    document()->rootFrame()->setFrameFormat(frame);
    setMinimumHeight(minHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (!m_settingText)
            Q_EMIT textEdited(toPlainText());
    });
}

void MacMultilineTextField::setBoundText(const QString &text)
{
    if (hasFocus() || toPlainText() == text)
        return;
    m_settingText = true;
    setPlainText(text);
    m_settingText = false;
}

QSize MacMultilineTextField::sizeHint() const
{
    return {300, m_minHeight};
}

QSize MacMultilineTextField::minimumSizeHint() const
{
    return {QTextEdit::minimumSizeHint().width(), m_minHeight};
}

void MacMultilineTextField::focusInEvent(QFocusEvent *event)
{
    if (!admitFocus(this, event))
        return;
    QTextEdit::focusInEvent(event);
    update(); // the frame carries the focus mark
}

void MacMultilineTextField::focusOutEvent(QFocusEvent *event)
{
    noteFocusOut(event);
    QTextEdit::focusOutEvent(event);
    update();
}
