#include "records/UserPerceivedText.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace UserPerceivedText {

namespace {

// Below U+0300 there are no combining marks, no surrogates and nothing else
// that joins units into one character, except CR LF.
bool isSimple(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300; });
}

// Walks back over simple text, counting CR LF as one; returns where the last
// `limit` characters start, or -1 when fewer than `limit` characters end the text.
qsizetype simpleTailStart(QStringView text, qsizetype limit)
{
    qsizetype position = text.size();
    for (qsizetype counted = 0; counted < limit; ++counted) {
        if (position == 0)
            return -1;
        --position;
        if (position > 0 && text[position] == QLatin1Char('\n') && text[position - 1] == QLatin1Char('\r'))
            --position;
    }
    return position;
}

// Character boundaries of the window, from the end backwards. The window's first
// boundary is unreliable (its character may begin before the window), so it is
// never used as a cut.
qsizetype graphemeTailStart(const QString &text, qsizetype windowStart, qsizetype limit)
{
    const QString window = text.mid(windowStart);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.toEnd();
    qsizetype counted = 0;
    while (counted < limit) {
        const qsizetype boundary = finder.toPreviousBoundary();
        if (boundary <= 0)
            return -1;
        ++counted;
        if (counted == limit)
            return windowStart + boundary;
    }
    return -1;
}

} // namespace

qsizetype count(const QString &text)
{
    if (isSimple(text)) {
        const qsizetype pairs = text.count(QStringLiteral("\r\n"));
        return text.size() - pairs;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    while (finder.toNextBoundary() > 0)
        ++characters;
    return characters;
}

QString lastCharacters(const QString &text, qsizetype limit)
{
    if (limit <= 0)
        return QString();
    // Every character takes at least one unit, so a short text always fits.
    if (text.size() <= limit)
        return text;

    // Grow a window at the end until it holds `limit` whole characters.
    qsizetype windowSize = limit + 64;
    while (true) {
        const qsizetype windowStart = std::max<qsizetype>(0, text.size() - windowSize);
        const QStringView window = QStringView(text).mid(windowStart);
        qsizetype start = -1;
        if (isSimple(window)) {
            start = simpleTailStart(window, limit);
            if (start >= 0)
                start += windowStart;
        } else {
            start = graphemeTailStart(text, windowStart, limit);
        }
        // A cut at the window's very start could split a character reaching into
        // the window (CR before LF, a base before its marks): grow instead.
        if (start >= 0 && (start > windowStart || windowStart == 0))
            return text.mid(start);
        if (windowStart == 0)
            return text;
        windowSize *= 2;
    }
}

} // namespace UserPerceivedText
