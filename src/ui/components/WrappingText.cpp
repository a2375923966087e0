#include "ui/components/WrappingText.h"

#include <QResizeEvent>
#include <QTextDocument>

#include <cmath>

namespace {

// The narrowest it gets: a few characters, so no layout is ever held wide.
constexpr int minimumCharacters = 8;

} // namespace

WrappingText::WrappingText(TextStyle style, bool monospaced, QWidget *parent)
    : QTextEdit(parent)
{
    setFont(monospaced ? monospacedFont(style) : textStyleFont(style));
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    setFocusPolicy(Qt::NoFocus);
    document()->setDocumentMargin(0);
    // Drawn on whatever surface it sits on, like a label, in the palette's
    // text colour: no style sheet, whose colours a theme switch would not reach.
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingText::setText(const QString &text)
{
    if (text == m_text && !document()->isEmpty())
        return;
    m_text = text;
    m_measuredWidth = -1;
    setPlainText(text);
    updateGeometry();
}

int WrappingText::heightForWidth(int width) const
{
    if (width != m_measuredWidth) {
        QTextDocument *layoutCopy = document()->clone();
        layoutCopy->setDefaultFont(font());
        layoutCopy->setTextWidth(qMax(1, width));
        m_measuredHeight = qMax(int(std::ceil(layoutCopy->size().height())), fontMetrics().height());
        m_measuredWidth = width;
        delete layoutCopy;
    }
    return m_measuredHeight;
}

QSize WrappingText::sizeHint() const
{
    const int ideal = int(std::ceil(document()->idealWidth()));
    const int width = qMin(qMax(ideal, minimumSizeHint().width()), 480);
    return {width, heightForWidth(width)};
}

QSize WrappingText::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * minimumCharacters, fontMetrics().height()};
}

void WrappingText::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    const int wanted = heightForWidth(event->size().width());
    if (wanted != event->size().height())
        updateGeometry();
}
