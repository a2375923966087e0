#pragma once

#include <QStringView>

#include <memory>
#include <string_view>
#include <vector>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

class CaseFoldedText;

// One of the threat scanner's fixed regular expressions. They are written in
// ICU's dialect ("$" also before a final CR, U+0085 or U+2028; Unicode \s, \w
// and \b), so ICU runs them. Compiled once; searching is const and safe from
// any thread, each search using its own matcher.
class CommandThreatPattern {
public:
    // Literal words that every match of the pattern holds, as the pattern
    // compares them (case-folded); they let a search skip a command that
    // cannot match and try the pattern only where a match can begin. Words
    // are lowercase and separated by spaces.
    struct Keywords {
        // One of these words, at most `leadLength` folded units after the
        // start of the match (a separator and an optional folder in front of a
        // command name). Empty when matches start with nothing fixed.
        std::u16string_view leadingWords;
        qsizetype leadLength = 0;
        // Every match holds one word of each of these groups as well.
        std::vector<std::u16string_view> requiredWords;
    };

    CommandThreatPattern(std::u16string_view source, Keywords keywords);
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

    // The same verdict, found through the keywords: nothing is searched when a
    // required word is missing from `folded` (the fold of `text`), and with
    // leading words the pattern is tried only just before each of them. The
    // attempts share one step budget.
    bool isFoundIn(QStringView text, const CaseFoldedText &folded) const;

    // The budget, in ICU time-limit units (each about ten thousand steps of
    // the match engine, about a tenth of a millisecond), for a text of
    // `length` UTF-16 units. Deterministic: the same command always gets the
    // same verdict, however busy the machine is.
    static int stepBudget(qsizetype length);

private:
    // Positions, first to last, at which a match may start.
    struct Stretch {
        qsizetype first;
        qsizetype last;
        auto operator<=>(const Stretch &) const = default;
    };

    bool holdsRequiredWords(const CaseFoldedText &folded) const;
    bool isFoundBeforeLeadingWords(QStringView text, const CaseFoldedText &folded) const;
    std::vector<Stretch> matchStarts(const CaseFoldedText &folded) const;

    std::u16string_view m_source;
    Keywords m_keywords;
    std::unique_ptr<icu::RegexPattern> m_compiled;
};
