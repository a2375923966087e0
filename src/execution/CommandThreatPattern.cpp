#include "execution/CommandThreatPattern.h"

#include "execution/CaseFoldedText.h"
#include "platform/Logging.h"

#include <QStringTokenizer>

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace {

// One search of one text: the text as ICU reads it and a matcher over it.
struct Search {
    icu::LocalUTextPointer input;
    std::unique_ptr<icu::RegexMatcher> matcher;
};

// Budget units that the running attempt has used, as ICU reports them.
struct UsedBudget {
    mutable int32_t units = 0;
};

UBool U_CALLCONV recordUsedBudget(const void *context, int32_t units)
{
    static_cast<const UsedBudget *>(context)->units = units;
    return true;
}

// A search that could not finish must never pass a command as clean.
bool countedAsMatch(UErrorCode status)
{
    qCCritical(lcGeneral, "Threat scanner stopped a pattern search (%s); counting it as a match", u_errorName(status));
    return true;
}

// The last position at which the running search may start a match.
struct TriedStarts {
    mutable qsizetype last = 0;
};

UBool U_CALLCONV isWithinStarts(const void *context, int64_t nextStart)
{
    return static_cast<UBool>(nextStart <= static_cast<const TriedStarts *>(context)->last);
}

} // namespace

CommandThreatPattern::CommandThreatPattern(std::u16string_view source, Keywords keywords)
    : m_source(source),
      m_keywords(std::move(keywords))
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError {};
    const icu::UnicodeString text(false, source.data(), static_cast<int32_t>(source.size()));
    m_compiled.reset(icu::RegexPattern::compile(text, 0, parseError, status));
    // The patterns are constants of the program; one that does not compile is a
    // build defect that no user input can cause.
    if (U_FAILURE(status) || !m_compiled)
        qFatal("Threat scanner pattern does not compile (%s at offset %d)", u_errorName(status), parseError.offset);
}

CommandThreatPattern::~CommandThreatPattern() = default;

int CommandThreatPattern::stepBudget(qsizetype length)
{
    // Generous for every linear search of an ordinary command (a few dozen
    // units per pattern for 100 KB searched whole, far fewer where keywords
    // narrow the search), while a quadratic blow-up, or a crafted command that
    // repeats a pattern's long window at every position, on 100 KB stops
    // after 8 to 13 ms. Such a command then counts as a match.
    constexpr qsizetype base = 32;
    constexpr qsizetype perUnitsOfText = 2048;
    const qsizetype budget = base + length / perUnitsOfText;
    return static_cast<int>(std::min<qsizetype>(budget, std::numeric_limits<int32_t>::max()));
}

bool CommandThreatPattern::isFoundIn(QStringView text) const
{
    static constexpr char16_t empty[] = u"";
    const char16_t *units = text.isEmpty() ? empty : text.utf16();

    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUTextPointer input(utext_openUChars(nullptr, units, static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<icu::RegexMatcher> matcher(m_compiled->matcher(status));
    if (U_FAILURE(status) || !matcher) {
        qCCritical(lcGeneral, "Threat scanner could not search a pattern (%s); counting it as a match",
                   u_errorName(status));
        return true;
    }
    matcher->reset(input.getAlias());
    matcher->setTimeLimit(stepBudget(text.size()), status);
    const bool found = matcher->find(status);
    if (U_FAILURE(status))
        return countedAsMatch(status);
    return found;
}

bool CommandThreatPattern::isFoundIn(QStringView text, const CaseFoldedText &folded) const
{
    if (!holdsRequiredWords(folded))
        return false;
    if (m_keywords.leadingWords.empty())
        return isFoundIn(text);
    return isFoundBeforeLeadingWords(text, folded);
}

bool CommandThreatPattern::holdsRequiredWords(const CaseFoldedText &folded) const
{
    if (!m_keywords.leadingWords.empty() && !folded.containsAnyOf(m_keywords.leadingWords))
        return false;
    return std::all_of(m_keywords.requiredWords.cbegin(), m_keywords.requiredWords.cend(),
                       [&](std::u16string_view words) { return folded.containsAnyOf(words); });
}

bool CommandThreatPattern::isFoundBeforeLeadingWords(QStringView text, const CaseFoldedText &folded) const
{
    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUTextPointer input(utext_openUChars(nullptr, text.utf16(), static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<icu::RegexMatcher> matcher(m_compiled->matcher(status));
    const UsedBudget used;
    const TriedStarts tried;
    if (matcher) {
        matcher->setMatchCallback(recordUsedBudget, &used, status);
        matcher->setFindProgressCallback(isWithinStarts, &tried, status);
        matcher->reset(input.getAlias());
        // "^" and "$" keep meaning the ends of the whole text, and "\b" sees past a stretch's ends.
        matcher->useAnchoringBounds(false);
        matcher->useTransparentBounds(true);
    }
    if (U_FAILURE(status) || !matcher) {
        qCCritical(lcGeneral, "Threat scanner could not search a pattern (%s); counting it as a match",
                   u_errorName(status));
        return true;
    }

    // One search per stretch of possible starts, each running to the end of
    // the text; ICU counts the budget per search, and all of them share the
    // one budget of the whole text.
    int remaining = stepBudget(text.size());
    for (const auto &[first, last] : matchStarts(folded)) {
        if (remaining <= 0)
            return countedAsMatch(U_REGEX_TIME_OUT);
        used.units = 0;
        tried.last = last;
        matcher->region(first, text.size(), status);
        matcher->setTimeLimit(remaining, status);
        const bool found = matcher->find(status);
        remaining -= used.units;
        if (status == U_REGEX_STOPPED_BY_CALLER) {
            status = U_ZERO_ERROR; // every start of the stretch was tried
            continue;
        }
        if (U_FAILURE(status))
            return countedAsMatch(status);
        if (found)
            return true;
    }
    return false;
}

std::vector<CommandThreatPattern::Stretch> CommandThreatPattern::matchStarts(const CaseFoldedText &folded) const
{
    std::vector<Stretch> starts;
    const QStringView foldedText = folded.folded();
    for (QStringView word : QStringTokenizer(QStringView(m_keywords.leadingWords), u' ', Qt::SkipEmptyParts)) {
        for (qsizetype at = foldedText.indexOf(word); at >= 0; at = foldedText.indexOf(word, at + 1)) {
            starts.push_back({folded.originalPosition(std::max<qsizetype>(0, at - m_keywords.leadLength)),
                              folded.originalPosition(at)});
        }
    }
    std::sort(starts.begin(), starts.end());
    // Overlapping and adjacent stretches become one.
    std::vector<Stretch> merged;
    for (const Stretch &stretch : starts) {
        if (!merged.empty() && stretch.first <= merged.back().last + 1)
            merged.back().last = std::max(merged.back().last, stretch.last);
        else
            merged.push_back(stretch);
    }
    return merged;
}
