#include "ui/components/MultilineElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

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
    const qsizetype head = (kept + 1) / 2;
    return text.left(head) + ellipsis + text.right(kept - head);
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
    QTextLayout layout(text, font);
    layout.setTextOption(wrapping());
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        ++lines;
    }
    layout.endLayout();
    return std::max(1, lines);
}

QString MultilineElidedLabel::fittedText(const QString &text, const QFont &font, int width, int maximumLines)
{
    if (lineCount(text, font, width) <= maximumLines)
        return text;
    // The longest cut that fits: fewer kept characters never take more lines.
    qsizetype fits = 0;
    qsizetype tooLong = text.size();
    while (tooLong - fits > 1) {
        const qsizetype kept = (fits + tooLong) / 2;
        if (lineCount(cutInTheMiddle(text, kept), font, width) <= maximumLines)
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
    const int lines = std::min(m_maximumLines, lineCount(text(), font(), textWidth));
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
