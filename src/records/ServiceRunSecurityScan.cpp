#include "records/ServiceRunSecurityScan.h"

QString toText(ServiceRunSecurityOutcome outcome)
{
    switch (outcome) {
    case ServiceRunSecurityOutcome::noFindings:
        return QStringLiteral("noFindings");
    case ServiceRunSecurityOutcome::approved:
        return QStringLiteral("approved");
    case ServiceRunSecurityOutcome::blocked:
        return QStringLiteral("blocked");
    }
    return {};
}

std::optional<ServiceRunSecurityOutcome> serviceRunSecurityOutcomeFromText(const QString &text)
{
    for (auto outcome : {ServiceRunSecurityOutcome::noFindings, ServiceRunSecurityOutcome::approved,
                         ServiceRunSecurityOutcome::blocked}) {
        if (toText(outcome) == text)
            return outcome;
    }
    return std::nullopt;
}

ServiceRunSecurityScan ServiceRunSecurityScan::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "ServiceRunSecurityScan");
    const QString outcomeText = reader.string("outcome");
    const auto outcome = serviceRunSecurityOutcomeFromText(outcomeText);
    if (!outcome)
        throw json::DecodeError(QStringLiteral("Cannot initialize ServiceRunSecurityOutcome from invalid value “%1”.")
                                    .arg(json::excerpt(outcomeText)));
    return {*outcome, reader.list("findings", CommandThreatFinding::fromJson)};
}

json::Value ServiceRunSecurityScan::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("outcome", toText(outcome))
        .set("findings",
             json::makeList(findings, allocator,
                            [](const CommandThreatFinding &finding, json::Allocator &a) { return finding.toJson(a); }))
        .take();
}

size_t qHash(const ServiceRunSecurityScan &scan, size_t seed)
{
    return qHashMulti(seed, static_cast<int>(scan.outcome), scan.findings);
}
