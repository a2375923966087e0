#include "execution/CaseFoldedText.h"

#include <QStringTokenizer>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>

namespace {

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

char16_t asciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

} // namespace

CaseFoldedText::CaseFoldedText(QStringView text)
    : m_originalLength(text.size())
{
    if (isAscii(text)) {
        m_folded.resize(text.size());
        std::transform(text.utf16(), text.utf16() + text.size(), reinterpret_cast<char16_t *>(m_folded.data()),
                       asciiLower);
        noteAsciiNeighbours();
        return;
    }

    m_folded.reserve(text.size());
    m_origins.reserve(std::size_t(text.size()));
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        // A full folding is at most three units long; an unpaired surrogate stays as it is.
        char16_t folded[4];
        UErrorCode status = U_ZERO_ERROR;
        int32_t foldedLength =
            u_strFoldCase(folded, 4, text.utf16() + i, int32_t(length), U_FOLD_CASE_DEFAULT, &status);
        if (U_FAILURE(status)) {
            std::copy_n(text.utf16() + i, length, folded);
            foldedLength = int32_t(length);
        }
        m_folded.append(QStringView(folded, foldedLength));
        m_origins.insert(m_origins.end(), std::size_t(foldedLength), i);
        i += length;
    }
    noteAsciiNeighbours();
}

void CaseFoldedText::noteAsciiNeighbours()
{
    char16_t previous = 0x80;
    for (const QChar c : std::as_const(m_folded)) {
        const char16_t unit = c.unicode();
        if (unit < 0x80) {
            m_asciiUnits.set(unit);
            if (previous < 0x80)
                m_asciiPairs.set(std::size_t(previous) * 0x80 + unit);
        }
        previous = unit;
    }
}

bool CaseFoldedText::mayContain(QStringView word) const
{
    char16_t previous = 0x80;
    for (const QChar c : word) {
        const char16_t unit = c.unicode();
        if (unit >= 0x80)
            return true;
        if (!m_asciiUnits.test(unit) || (previous < 0x80 && !m_asciiPairs.test(std::size_t(previous) * 0x80 + unit)))
            return false;
        previous = unit;
    }
    return true;
}

bool CaseFoldedText::containsAnyOf(std::u16string_view words) const
{
    for (QStringView word : QStringTokenizer(QStringView(words), u' ', Qt::SkipEmptyParts)) {
        if (mayContain(word) && m_folded.contains(word))
            return true;
    }
    return false;
}

qsizetype CaseFoldedText::originalPosition(qsizetype position) const
{
    if (position >= m_folded.size())
        return m_originalLength;
    return m_origins.empty() ? position : m_origins[std::size_t(position)];
}
