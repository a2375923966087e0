#include "ui/components/SearchRelevance.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <vector>

namespace {

bool isPlain(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300 && c != QLatin1Char('\r'); });
}

// A text seen as a sequence of user-perceived characters. Plain text (nothing
// at or above U+0300, no CR) has one character per unit, so no boundaries
// are computed for it.
class Characters {
public:
    explicit Characters(const QString &text)
        : m_text(text),
          m_plain(isPlain(text))
    {
        if (m_plain)
            return;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        m_starts.push_back(0);
        while (finder.toNextBoundary() != -1)
            m_starts.push_back(finder.position());
        if (m_starts.back() != text.size())
            m_starts.push_back(text.size());
    }

    qsizetype size() const { return m_plain ? m_text.size() : qsizetype(m_starts.size()) - 1; }
    QStringView at(qsizetype i) const
    {
        if (m_plain)
            return QStringView(m_text).mid(i, 1);
        return QStringView(m_text).mid(m_starts[size_t(i)], m_starts[size_t(i) + 1] - m_starts[size_t(i)]);
    }
    bool isBoundary(qsizetype unit) const
    {
        return m_plain || std::binary_search(m_starts.begin(), m_starts.end(), unit);
    }
    const QString &text() const { return m_text; }

private:
    const QString &m_text;
    bool m_plain;
    std::vector<qsizetype> m_starts;
};

// Where `pattern` occurs in `text` starting and ending on character boundaries,
// so that "e" is not found inside a cluster it only begins; -1 when nowhere.
qsizetype findWholeCharacters(const Characters &text, const QString &pattern, qsizetype from = 0)
{
    qsizetype at = text.text().indexOf(pattern, from);
    while (at >= 0) {
        if (text.isBoundary(at) && text.isBoundary(at + pattern.size()))
            return at;
        at = text.text().indexOf(pattern, at + 1);
    }
    return -1;
}

bool containsCharacters(const QString &text, const QString &pattern)
{
    if (pattern.isEmpty())
        return true;
    if (!text.contains(pattern))
        return false;
    return findWholeCharacters(Characters(text), pattern) >= 0;
}

bool startsWithCharacters(const QString &text, const QString &pattern)
{
    if (!text.startsWith(pattern))
        return false;
    return pattern.size() == text.size() || Characters(text).isBoundary(pattern.size());
}

// The first code point decides a character's properties.
char32_t firstCodePoint(QStringView character)
{
    if (character.size() >= 2 && character[0].isHighSurrogate() && character[1].isLowSurrogate())
        return QChar::surrogateToUcs4(character[0], character[1]);
    return character[0].unicode();
}

QString lettersAndDigits(const QString &text)
{
    const Characters characters(text);
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const QStringView character = characters.at(i);
        const char32_t code = firstCodePoint(character);
        if (QChar::isLetter(code) || QChar::isNumber(code))
            result.append(character);
    }
    return result;
}

} // namespace

QString foldForSearch(const QString &text)
{
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toCaseFolded();
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString stripped;
    stripped.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        const QChar c = decomposed[i];
        if (c.isHighSurrogate() && i + 1 < decomposed.size() && decomposed[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, decomposed[i + 1]);
            if (QChar::category(code) != QChar::Mark_NonSpacing)
                stripped.append(c).append(decomposed[i + 1]);
            ++i;
            continue;
        }
        if (c.category() != QChar::Mark_NonSpacing)
            stripped.append(c);
    }
    return stripped.toCaseFolded().normalized(QString::NormalizationForm_C);
}

QStringList splitOnWhitespace(const QString &text)
{
    const Characters characters(text);
    QStringList words;
    QString word;
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const QStringView character = characters.at(i);
        if (QChar::isSpace(firstCodePoint(character))) {
            if (!word.isEmpty())
                words.append(std::exchange(word, QString()));
        } else {
            word.append(character);
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

std::optional<int> fuzzySubsequenceScore(const QString &pattern, const QString &text)
{
    const Characters p(pattern);
    const Characters t(text);
    if (p.size() == 0)
        return 0;
    int score = 100;
    int run = 0;
    qsizetype position = 0;
    const qsizetype length = t.size();
    for (qsizetype i = 0; i < p.size(); ++i) {
        const QStringView wanted = p.at(i);
        if (position >= length)
            return std::nullopt;
        ++run;
        QStringView current = t.at(position++);
        if (current != wanted) {
            for (;;) {
                if (position >= length)
                    return std::nullopt;
                current = t.at(position++);
                if (current == wanted) {
                    run = 1;
                    break;
                }
            }
        }
        score += 10 + 4 * run;
    }
    score -= int(std::min<qsizetype>(length, 40));
    return std::max(score, 1);
}

std::optional<int> tokenRelevanceScore(const QString &pattern, const QString &text)
{
    if (containsCharacters(text, pattern))
        return 700;
    const QString pattern2 = lettersAndDigits(pattern);
    if (!pattern2.isEmpty()) {
        const QString text2 = lettersAndDigits(text);
        if (startsWithCharacters(text2, pattern2))
            return 650;
        if (containsCharacters(text2, pattern2))
            return 600;
        if (const auto fuzzy = fuzzySubsequenceScore(pattern2, text2))
            return fuzzy;
    }
    return fuzzySubsequenceScore(pattern, text);
}

std::optional<int> searchRelevanceScore(const QString &searchText, const QString &itemText)
{
    const QString trimmed = searchText.trimmed();
    if (trimmed.isEmpty())
        return 0;
    const QString query = foldForSearch(trimmed);
    const QString text = foldForSearch(itemText);
    if (text == query)
        return 1000;
    if (startsWithCharacters(text, query))
        return 900;
    if (containsCharacters(text, query))
        return 800;
    const QStringList words = splitOnWhitespace(query);
    if (words.size() < 2)
        return tokenRelevanceScore(query, text);
    qint64 sum = 0;
    for (const QString &word : words) {
        const auto score = tokenRelevanceScore(word, text);
        if (!score)
            return std::nullopt;
        sum += *score;
    }
    return int(sum / words.size());
}
