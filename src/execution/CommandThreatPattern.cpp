#include "execution/CommandThreatPattern.h"

#include "platform/Logging.h"

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <algorithm>
#include <limits>

CommandThreatPattern::CommandThreatPattern(std::u16string_view source)
    : m_source(source)
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
    // Generous for every linear search (an ordinary 100 KB command needs a few
    // dozen units per pattern, the worst crafted linear ones a few thousand),
    // while a quadratic blow-up on 100 KB stops after about a tenth of a second
    // instead of running for minutes.
    constexpr qsizetype base = 500;
    constexpr qsizetype perUnitsOfText = 128;
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
    if (U_FAILURE(status)) {
        qCCritical(lcGeneral, "Threat scanner stopped a pattern search (%s); counting it as a match",
                   u_errorName(status));
        return true;
    }
    return found;
}
