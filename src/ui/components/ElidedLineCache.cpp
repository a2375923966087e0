#include "ui/components/ElidedLineCache.h"

#include <QFontMetrics>

#include <algorithm>

namespace {

QString onOneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

QString ElidedLineCache::showablePart(const QString &text, const QFontMetrics &metrics, int width)
{
    // A character that shows takes at least a pixel, so a side of `width`
    // characters is wide enough unless many take none; then it grows.
    qsizetype side = std::max(64, width);
    for (;;) {
        if (text.size() <= 2 * side)
            return text;
        qsizetype headEnd = side;
        if (text.at(headEnd - 1).isHighSurrogate())
            --headEnd;
        qsizetype tailStart = text.size() - side;
        if (text.at(tailStart).isLowSurrogate())
            ++tailStart;
        const QString head = onOneLine(text.left(headEnd));
        const QString tail = onOneLine(text.mid(tailStart));
        if (metrics.horizontalAdvance(head) > width && metrics.horizontalAdvance(tail) > width)
            return head + tail;
        side *= 4;
    }
}

QString ElidedLineCache::elided(const QString &text, const QFont &font, int width)
{
    if (font != m_font) {
        m_lines.clear();
        m_font = font;
    }
    const std::pair<QString, int> key(text, width);
    // A lookup by value, which checks its node, where an iterator's would be
    // dereferenced without a check the optimiser can follow. An empty line is
    // made again: only an empty text or no room for an ellipsis gives one.
    if (QString line = m_lines.value(key); !line.isEmpty())
        return line;
    if (m_lines.size() >= maximumLines)
        m_lines.clear();
    const QFontMetrics metrics(font);
    QString line = metrics.elidedText(onOneLine(showablePart(text, metrics, width)), Qt::ElideMiddle, width);
    m_lines.insert(key, line);
    return line;
}
