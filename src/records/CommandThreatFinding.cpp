#include "records/CommandThreatFinding.h"

std::optional<CommandThreatSeverity> commandThreatSeverityFromRawValue(qint64 rawValue)
{
    switch (rawValue) {
    case 2:
        return CommandThreatSeverity::medium;
    case 3:
        return CommandThreatSeverity::high;
    case 4:
        return CommandThreatSeverity::critical;
    default:
        return std::nullopt;
    }
}

QList<CommandThreatSeverity> allCommandThreatSeverities()
{
    return {CommandThreatSeverity::medium, CommandThreatSeverity::high, CommandThreatSeverity::critical};
}

QString label(CommandThreatSeverity severity)
{
    switch (severity) {
    case CommandThreatSeverity::medium:
        return QStringLiteral("Medium");
    case CommandThreatSeverity::high:
        return QStringLiteral("High");
    case CommandThreatSeverity::critical:
        return QStringLiteral("Critical");
    }
    return {};
}

CommandThreatFinding CommandThreatFinding::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "CommandThreatFinding");
    const qint64 rawSeverity = reader.int64("severity");
    const auto severity = commandThreatSeverityFromRawValue(rawSeverity);
    if (!severity)
        throw json::DecodeError(QStringLiteral("Invalid value for %1: %2 is not a severity (2, 3 or 4).")
                                    .arg(reader.where("severity"))
                                    .arg(rawSeverity));
    return {reader.string("ruleID"), *severity, reader.string("title"), reader.string("explanation"),
            reader.string("evidence")};
}

json::Value CommandThreatFinding::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("ruleID", ruleID)
        .set("severity", static_cast<qint32>(severity))
        .set("title", title)
        .set("explanation", explanation)
        .set("evidence", evidence)
        .take();
}

size_t qHash(const CommandThreatFinding &finding, size_t seed)
{
    return qHashMulti(seed, finding.ruleID, static_cast<int>(finding.severity), finding.title, finding.explanation,
                      finding.evidence);
}
