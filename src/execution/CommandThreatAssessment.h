#pragma once

#include "records/CommandThreatFinding.h"

#include <QHash>
#include <QList>
#include <QString>

// The result of scanning one command line. Lives only in memory (errors and
// review requests); only its findings are ever stored, inside run records.
struct CommandThreatAssessment {
    QString commandFingerprint;           // 64 lowercase hex digits
    QList<CommandThreatFinding> findings; // most severe first, then by ruleID

    bool hasCriticalFinding() const;

    friend bool operator==(const CommandThreatAssessment &, const CommandThreatAssessment &) = default;
};

size_t qHash(const CommandThreatAssessment &assessment, size_t seed = 0);
