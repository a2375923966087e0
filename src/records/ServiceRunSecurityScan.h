#pragma once

#include "records/CommandThreatFinding.h"
#include "records/Json.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

enum class ServiceRunSecurityOutcome { noFindings, approved, blocked };

QString toText(ServiceRunSecurityOutcome outcome);
std::optional<ServiceRunSecurityOutcome> serviceRunSecurityOutcomeFromText(const QString &text);

// The command threat check that preceded a launch.
struct ServiceRunSecurityScan {
    ServiceRunSecurityOutcome outcome = ServiceRunSecurityOutcome::noFindings;
    QList<CommandThreatFinding> findings;

    // Strict: "outcome" and "findings" are required, an unknown outcome fails.
    static ServiceRunSecurityScan fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const ServiceRunSecurityScan &, const ServiceRunSecurityScan &) = default;
};

size_t qHash(const ServiceRunSecurityScan &scan, size_t seed = 0);
