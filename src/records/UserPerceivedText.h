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
// character boundary.
QString lastCharacters(const QString &text, qsizetype limit);

} // namespace UserPerceivedText
