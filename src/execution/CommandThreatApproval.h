#pragma once

#include "execution/CommandThreatAssessment.h"

#include <QHash>
#include <QString>

// The user's acceptance of the findings of one exact command line. Never
// stored: it travels with the start request that carries it.
struct CommandThreatApproval {
    QString commandFingerprint;

    // Exact, case-sensitive comparison of the whole fingerprint: any change to
    // the command text makes an earlier approval stop matching.
    bool matches(const CommandThreatAssessment &assessment) const
    {
        return commandFingerprint == assessment.commandFingerprint;
    }

    friend bool operator==(const CommandThreatApproval &, const CommandThreatApproval &) = default;
};

inline size_t qHash(const CommandThreatApproval &approval, size_t seed = 0)
{
    return qHash(approval.commandFingerprint, seed);
}
