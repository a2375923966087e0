#include "execution/CommandThreatAssessment.h"

#include <algorithm>

bool CommandThreatAssessment::hasCriticalFinding() const
{
    return std::any_of(findings.cbegin(), findings.cend(), [](const CommandThreatFinding &finding) {
        return finding.severity == CommandThreatSeverity::critical;
    });
}

size_t qHash(const CommandThreatAssessment &assessment, size_t seed)
{
    seed = qHashMulti(seed, assessment.commandFingerprint, assessment.findings.size());
    for (const CommandThreatFinding &finding : assessment.findings)
        seed = qHash(finding, seed);
    return seed;
}
