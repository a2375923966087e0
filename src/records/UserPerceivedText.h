#pragma once

#include <QString>

// Lengths and cuts of output text count user-perceived characters (grapheme
// clusters): CR LF is one character, an emoji ZWJ sequence or a letter with
// combining marks is one. Both functions look only at the end of the text,
// so their cost follows the number of characters asked for, not the length
// of the text.
namespace UserPerceivedText {

qsizetype count(const QString &text);

// The longest suffix of `text` holding at most `limit` characters, cut on a
// character boundary. `kept`, when given, receives how many characters the
// suffix holds, so a caller never has to count them again.
QString lastCharacters(const QString &text, qsizetype limit, qsizetype *kept = nullptr);

// Whether the text has no unit at or above U+0300: no combining marks, no
// surrogates, nothing that joins units into one character except CR LF.
bool isSimple(QStringView text);

// The nearest position at or before `position` where a character boundary lies
// whatever came before it, so the text from there on splits into the same
// characters on its own as inside the whole text. Looks back at most
// `searchLimit` units (-1: up to the start); -1 when there is none in reach.
// Text start, line ends, control characters and two neighbouring characters
// below U+0300 qualify; a run of regional indicators or of joining marks
// does not, since its characters depend on what precedes it.
qsizetype independentBoundaryAtOrBefore(QStringView text, qsizetype position, qsizetype searchLimit = -1);

} // namespace UserPerceivedText
