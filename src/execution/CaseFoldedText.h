#pragma once

#include <QString>
#include <QStringView>

#include <bitset>
#include <string_view>
#include <vector>

// A text folded the way ICU compares it under "(?i)": each code point by its
// full Unicode case folding ("ß" becomes "ss", the Kelvin sign "k"), so that a
// plain substring search for a lowercase word finds every place where a
// case-insensitive pattern could match that word. Remembers where in the
// original text each folded unit comes from.
class CaseFoldedText {
public:
    explicit CaseFoldedText(QStringView text);

    QStringView folded() const { return m_folded; }

    // Whether the folded text holds one of the space-separated lowercase words.
    bool containsAnyOf(std::u16string_view words) const;

    // The position in the original text of the code point that folded unit
    // `position` comes from; the original length for the end.
    qsizetype originalPosition(qsizetype position) const;

private:
    void noteAsciiNeighbours();
    // False when the word certainly does not occur.
    bool mayContain(QStringView word) const;

    QString m_folded;
    qsizetype m_originalLength = 0;
    // Empty while every unit folded to exactly one unit (ASCII text).
    std::vector<qsizetype> m_origins;
    // The ASCII units, and the pairs of them next to each other, that occur in
    // the folded text: they rule out most absent words without a search.
    std::bitset<128> m_asciiUnits;
    std::bitset<std::size_t {128} * 128> m_asciiPairs;
};
