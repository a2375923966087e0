#pragma once

#include <QStringView>

#include <memory>
#include <string_view>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

// One of the threat scanner's fixed regular expressions. They are written in
// ICU's dialect ("$" also before a final CR, U+0085 or U+2028; Unicode \s, \w
// and \b), so ICU runs them. Compiled once; searching is const and safe from
// any thread, each search using its own matcher.
class CommandThreatPattern {
public:
    explicit CommandThreatPattern(std::u16string_view source);
    ~CommandThreatPattern();
    CommandThreatPattern(const CommandThreatPattern &) = delete;
    CommandThreatPattern &operator=(const CommandThreatPattern &) = delete;

    std::u16string_view source() const { return m_source; }

    // Whether the pattern matches anywhere in `text`. A few of the patterns
    // backtrack quadratically on crafted input, so each search gets a step
    // budget that grows with the text; a search that exhausts it, or that ICU
    // gives up on for any other reason (its 8 MB backtrack stack overflows on
    // runs of several hundred thousand like characters), counts as a match: a
    // scan that could not finish must never pass a command as clean.
    bool isFoundIn(QStringView text) const;

    // The budget, in ICU time-limit units (each about ten thousand steps of
    // the match engine, about a tenth of a millisecond), for a text of
    // `length` UTF-16 units. Deterministic: the same command always gets the
    // same verdict, however busy the machine is.
    static int stepBudget(qsizetype length);

private:
    std::u16string_view m_source;
    std::unique_ptr<icu::RegexPattern> m_compiled;
};
