#include "ui/components/MultilineElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>
#include <limits>

namespace {

const QString ellipsis = QStringLiteral("\u2026");
// Some fonts draw the underscore below their descent; a box of exactly the
// lines' height would cut it off.
constexpr int underscoreRoom = 2;

QTextOption wrapping()
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

QString cutInTheMiddle(const QString &text, qsizetype kept)
{
    qsizetype head = (kept + 1) / 2;
    qsizetype tail = kept - head;
    // Half a surrogate pair would draw as a broken glyph.
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.first(head) + ellipsis + text.last(tail);
}

// The text as the painter lays it out: it breaks lines at newlines and draws
// carriage returns as spaces, which a bare text layout would not.
QString asPainted(const QString &text)
{
    QString painted = text;
    painted.replace(QLatin1Char('\n'), QChar::LineSeparator);
    painted.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return painted;
}

// The lines `text` takes in `width`, counting no further than one past `limit`:
// the lines after that change no answer, and a long text has many.
int linesUpTo(const QString &text, const QFont &font, int width, int limit)
{
    QTextLayout layout(asPainted(text), font);
    layout.setTextOption(wrapping());
    layout.beginLayout();
    int lines = 0;
    // Every line created is given its width: the layout would otherwise lay
    // out the whole rest of the text as its last line.
    while (lines <= limit) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max(1, width));
        ++lines;
    }
    layout.endLayout();
    return std::max(1, lines);
}

} // namespace

MultilineElidedLabel::MultilineElidedLabel(const QString &text, int maximumLines, TextStyle style, QFont::Weight weight,
                                           ThemeColor color, QWidget *parent)
    : StyledLabel(text, style, weight, color, parent),
      m_maximumLines(std::max(1, maximumLines))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int MultilineElidedLabel::lineCount(const QString &text, const QFont &font, int width)
{
    return linesUpTo(text, font, width, std::numeric_limits<int>::max());
}

QString MultilineElidedLabel::fittedText(const QString &text, const QFont &font, int width, int maximumLines)
{
    if (linesUpTo(text, font, width, maximumLines) <= maximumLines)
        return text;
    // The longest cut that fits: fewer kept characters never take more lines.
    qsizetype fits = 0;
    qsizetype tooLong = text.size();
    while (tooLong - fits > 1) {
        const qsizetype kept = (fits + tooLong) / 2;
        if (linesUpTo(cutInTheMiddle(text, kept), font, width, maximumLines) <= maximumLines)
            fits = kept;
        else
            tooLong = kept;
    }
    return cutInTheMiddle(text, fits);
}

int MultilineElidedLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int textWidth = width - margins.left() - margins.right();
    const int lines = std::min(m_maximumLines, linesUpTo(text(), font(), textWidth, m_maximumLines));
    return lines * fontMetrics().lineSpacing() + underscoreRoom + margins.top() + margins.bottom();
}

QSize MultilineElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = fontMetrics().horizontalAdvance(text()) + margins.left() + margins.right() + 1;
    return {width, fontMetrics().lineSpacing() + underscoreRoom + margins.top() + margins.bottom()};
}

QSize MultilineElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(ellipsis) * 3 + margins.left() + margins.right(),
            fontMetrics().lineSpacing() + underscoreRoom + margins.top() + margins.bottom()};
}

void MultilineElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.setFont(font());
    const QRect area = contentsRect();
    QTextOption option = wrapping();
    option.setAlignment(alignment() & Qt::AlignHorizontal_Mask);
    painter.drawText(QRectF(area), fittedText(text(), font(), area.width(), m_maximumLines), option);
}
