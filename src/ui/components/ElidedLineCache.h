#pragma once

#include <QFont>
#include <QHash>
#include <QString>

#include <utility>

class QFontMetrics;

// One line of a text that may be huge (a service's command), elided in the
// middle to a width. Only a head and a tail about as long as the width can
// show are laid out, never the whole text; line breaks show as spaces. The
// lines made are kept per text and width for one font: another font (a theme
// or scale change) clears them.
class ElidedLineCache {
public:
    QString elided(const QString &text, const QFont &font, int width);

    // The part of `text` that can show in `width`: the text itself when short,
    // else a head and a tail each wider than `width`, cut between characters.
    static QString showablePart(const QString &text, const QFontMetrics &metrics, int width);

private:
    // Enough for every row of a long list at a couple of widths.
    static constexpr qsizetype maximumLines = 512;

    QFont m_font;
    QHash<std::pair<QString, int>, QString> m_lines;
};
