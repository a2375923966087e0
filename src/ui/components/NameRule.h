#pragma once

#include <QString>

// Service and profile names show on one line in rows, titles, the panel and
// log lines: a control character (tab, line break, escape…) would split or
// garble every one of them. Emoji and any other printable text are fine.
namespace NameRule {

// True when `name` holds a character of Unicode category Cc.
bool hasControlCharacters(const QString &name);
// What the editors show under the name field while it breaks the rule.
QString controlCharacterMessage();

} // namespace NameRule
