#include "records/OutputTextBuffer.h"

#include "records/UserPerceivedText.h"

#include <algorithm>

namespace {
// Enough units to hold the last character of the buffer and anything that may
// join it from the next chunk (CR then LF, a base then its marks).
constexpr qsizetype seamWindow = 32;
} // namespace

OutputTextBuffer::OutputTextBuffer(qsizetype cutAbove, qsizetype keep) : m_cutAbove(cutAbove), m_keep(keep) {}

void OutputTextBuffer::append(const QString &chunk)
{
    if (chunk.isEmpty())
        return;
    // Characters added = count(seam + chunk) - count(seam): a character that
    // straddles the seam is counted once.
    const QString seam = m_text.right(std::min(seamWindow, m_text.size()));
    const qsizetype before = UserPerceivedText::count(seam);
    m_text.append(chunk);
    m_characters += UserPerceivedText::count(seam + chunk) - before;
    if (m_characters > m_cutAbove) {
        m_text = UserPerceivedText::lastCharacters(m_text, m_keep);
        m_characters = UserPerceivedText::count(m_text);
    }
}

void OutputTextBuffer::clear()
{
    m_text.clear();
    m_characters = 0;
}
