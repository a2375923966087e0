#include "records/UserPerceivedText.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace UserPerceivedText {

bool isSimple(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300; });
}

namespace {

// Walks back over simple text, counting CR LF as one; returns where the last
// `limit` characters start, or -1 when fewer than `limit` characters end the text.
qsizetype simpleTailStart(QStringView text, qsizetype limit)
{
    // Without a CR every unit is a character of its own.
    if (!text.contains(QLatin1Char('\r')))
        return text.size() >= limit ? text.size() - limit : -1;
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

// Character boundaries of the window, from the end backwards. The window starts
// on an independent boundary, so its own boundaries are the text's.
qsizetype graphemeTailStart(const QString &text, qsizetype windowStart, qsizetype limit)
{
    const QString window = text.mid(windowStart);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.toEnd();
    for (qsizetype counted = 0; counted < limit;) {
        const qsizetype boundary = finder.toPreviousBoundary();
        if (boundary < 0 || (boundary == 0 && counted + 1 < limit))
            return -1;
        if (++counted == limit)
            return windowStart + boundary;
    }
    return -1;
}

bool isControl(char16_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit < 0xA0);
}

// A boundary between these two units that no earlier text can move, and no
// rule that looks further back (emoji joined by ZWJ, pairs of regional
// indicators) can reach across.
bool isIndependentBoundary(char16_t before, char16_t after)
{
    if (before == u'\r' && after == u'\n')
        return false;
    return (before < 0x300 && after < 0x300) || isControl(before) || isControl(after);
}

} // namespace

qsizetype count(const QString &text)
{
    if (isSimple(text)) {
        if (!text.contains(QLatin1Char('\r')))
            return text.size();
        return text.size() - text.count(QStringLiteral("\r\n"));
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    while (finder.toNextBoundary() > 0)
        ++characters;
    return characters;
}

qsizetype independentBoundaryAtOrBefore(QStringView text, qsizetype position, qsizetype searchLimit)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    const qsizetype earliest = searchLimit < 0 ? 0 : std::max<qsizetype>(0, position - searchLimit);
    for (qsizetype candidate = position; candidate >= earliest; --candidate) {
        if (candidate == 0 || candidate == text.size())
            return candidate;
        if (isIndependentBoundary(text[candidate - 1].unicode(), text[candidate].unicode()))
            return candidate;
    }
    return -1;
}

QString lastCharacters(const QString &text, qsizetype limit, qsizetype *kept)
{
    if (limit <= 0) {
        if (kept)
            *kept = 0;
        return QString();
    }
    // Every character takes at least one unit, so a short text always fits.
    if (text.size() <= limit) {
        if (kept)
            *kept = count(text);
        return text;
    }

    // Grow a window at the end until it holds `limit` whole characters. The
    // window starts on an independent boundary, so each boundary found inside
    // it is one of the whole text's, and a cut there never splits a character.
    qsizetype windowSize = limit + 64;
    while (true) {
        const qsizetype windowStart = independentBoundaryAtOrBefore(text, text.size() - windowSize);
        const QStringView window = QStringView(text).mid(windowStart);
        qsizetype start = -1;
        if (isSimple(window)) {
            start = simpleTailStart(window, limit);
            if (start >= 0)
                start += windowStart;
        } else {
            start = graphemeTailStart(text, windowStart, limit);
        }
        if (start >= 0) {
            if (kept)
                *kept = limit;
            return text.mid(start);
        }
        if (windowStart == 0) {
            if (kept)
                *kept = count(text);
            return text;
        }
        windowSize = std::max(windowSize * 2, text.size() - windowStart + 1);
    }
}

} // namespace UserPerceivedText
