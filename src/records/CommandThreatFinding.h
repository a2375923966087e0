#pragma once

#include "records/Json.h"

#include <QHash>
#include <QList>
#include <QString>

#include <compare>
#include <optional>

// How dangerous a matched pattern is. Stored as its raw value (2, 3, 4),
// the only enumeration kept as a number.
enum class CommandThreatSeverity : int { medium = 2, high = 3, critical = 4 };

std::optional<CommandThreatSeverity> commandThreatSeverityFromRawValue(qint64 rawValue);
QList<CommandThreatSeverity> allCommandThreatSeverities();
QString label(CommandThreatSeverity severity); // "Medium", "High", "Critical"

inline std::strong_ordering operator<=>(CommandThreatSeverity a, CommandThreatSeverity b)
{
    return static_cast<int>(a) <=> static_cast<int>(b);
}

inline size_t qHash(CommandThreatSeverity severity, size_t seed = 0)
{
    return qHash(static_cast<int>(severity), seed);
}

// One matched rule. Its identity is `ruleID`; `evidence` describes the kind
// of pattern, never the matched text.
struct CommandThreatFinding {
    QString ruleID;
    CommandThreatSeverity severity = CommandThreatSeverity::medium;
    QString title;
    QString explanation;
    QString evidence;

    static CommandThreatFinding fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const CommandThreatFinding &, const CommandThreatFinding &) = default;
};

size_t qHash(const CommandThreatFinding &finding, size_t seed = 0);
