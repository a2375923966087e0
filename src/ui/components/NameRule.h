#pragma once

#include <QString>

// Service and profile names show on one line in rows, titles, the panel and
// log lines: a control character (tab, line break, escape…) or a line or
// paragraph separator would split or garble every one of them. Emoji and any
// other printable text are fine.
namespace NameRule {

// True when `name` holds a character of Unicode category Cc, or U+2028 or U+2029.
bool hasControlCharacters(const QString &name);
// `name` as shown on one line: a line or paragraph separator that a name
// stored by an earlier version still holds reads as a space.
QString oneLine(QString name);
// What the editors show under the name field while it breaks the rule.
QString controlCharacterMessage();

} // namespace NameRule
