#include "records/OutputTextBuffer.h"

#include "records/UserPerceivedText.h"

#include <algorithm>

namespace {
// Enough units to hold the last character of the buffer and anything that may
// join it from the next chunk (CR then LF, a base then its marks).
constexpr qsizetype seamWindow = 32;
// How far back the seam may reach for a boundary that no earlier text can
// move. Only a long run of regional indicators or joining marks has none in
// reach; the count may then be off by one until the next cut recounts it.
constexpr qsizetype seamSearchLimit = 1024;
} // namespace

OutputTextBuffer::OutputTextBuffer(qsizetype cutAbove, qsizetype keep) : m_cutAbove(cutAbove), m_keep(keep) {}

bool OutputTextBuffer::append(const QString &chunk)
{
    if (chunk.isEmpty())
        return false;
    // Characters added = count(seam + chunk) - count(seam): a character that
    // straddles the seam is counted once. The seam starts on a boundary that
    // earlier text cannot move, so both counts see the same characters.
    const qsizetype wanted = std::max<qsizetype>(0, m_text.size() - seamWindow);
    qsizetype seamStart = UserPerceivedText::independentBoundaryAtOrBefore(m_text, wanted, seamSearchLimit);
    if (seamStart < 0)
        seamStart = wanted;
    const QString seam = m_text.mid(seamStart);
    const qsizetype before = UserPerceivedText::count(seam);
    m_text.append(chunk);
    m_characters += UserPerceivedText::count(seam + chunk) - before;
    if (m_characters <= m_cutAbove)
        return false;
    m_text = UserPerceivedText::lastCharacters(m_text, m_keep);
    m_characters = UserPerceivedText::count(m_text);
    return true;
}

void OutputTextBuffer::clear()
{
    m_text.clear();
    m_characters = 0;
}
