#pragma once

#include <QString>

// Captured output that keeps its last `keep` user-perceived characters once it
// grows past `cutAbove`. The character count is kept up to date per chunk, so
// appending never recounts the whole buffer.
class OutputTextBuffer {
public:
    OutputTextBuffer(qsizetype cutAbove, qsizetype keep);

    // True when the append cut earlier text away.
    bool append(const QString &chunk);
    void clear();

    const QString &text() const { return m_text; }
    qsizetype characterCount() const { return m_characters; }

private:
    qsizetype addedCharacters(const QString &chunk) const;

    qsizetype m_cutAbove;
    qsizetype m_keep;
    QString m_text;
    qsizetype m_characters = 0;
};
