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

OutputTextBuffer::OutputTextBuffer(qsizetype cutAbove, qsizetype keep)
    : m_cutAbove(cutAbove),
      m_keep(keep)
{}

bool OutputTextBuffer::append(const QString &chunk)
{
    if (chunk.isEmpty())
        return false;
    m_characters += addedCharacters(chunk);
    m_text.append(chunk);
    if (m_characters <= m_cutAbove)
        return false;
    m_text = UserPerceivedText::lastCharacters(m_text, m_keep, &m_characters);
    return true;
}

qsizetype OutputTextBuffer::addedCharacters(const QString &chunk) const
{
    if (m_text.isEmpty())
        return UserPerceivedText::count(chunk);
    // Plain text meeting plain text: every unit is a character, except that
    // each CR LF, the one across the seam included, counts once.
    if (!m_text.isEmpty() && m_text.back().unicode() < 0x300 && UserPerceivedText::isSimple(chunk)) {
        qsizetype added = chunk.size();
        if (chunk.contains(QLatin1Char('\r')))
            added -= chunk.count(QStringLiteral("\r\n"));
        if (m_text.back() == QLatin1Char('\r') && chunk.front() == QLatin1Char('\n'))
            --added;
        return added;
    }
    // Characters added = count(seam + chunk) - count(seam): a character that
    // straddles the seam is counted once. The seam starts on a boundary that
    // earlier text cannot move, so both counts see the same characters.
    const qsizetype wanted = std::max<qsizetype>(0, m_text.size() - seamWindow);
    qsizetype seamStart = UserPerceivedText::independentBoundaryAtOrBefore(m_text, wanted, seamSearchLimit);
    if (seamStart < 0)
        seamStart = wanted;
    const QString seam = m_text.mid(seamStart);
    return UserPerceivedText::count(seam + chunk) - UserPerceivedText::count(seam);
}

void OutputTextBuffer::clear()
{
    m_text.clear();
    m_characters = 0;
}
