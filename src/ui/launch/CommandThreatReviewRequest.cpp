#include "ui/launch/CommandThreatReviewRequest.h"

QString CommandThreatReviewRequest::id() const
{
    return rawValue(action) + QLatin1Char('-') + serviceId.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('-')
           + assessment.commandFingerprint;
}

size_t qHash(const CommandThreatReviewRequest &request, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, request.serviceId);
    seed = combine(seed, request.serviceName);
    seed = combine(seed, rawValue(request.action));
    seed = combine(seed, request.assessment.commandFingerprint);
    seed = combine(seed, request.assessment.findings.size());
    for (const CommandThreatFinding &finding : request.assessment.findings) {
        seed = combine(seed, finding.ruleID);
        seed = combine(seed, static_cast<int>(finding.severity));
        seed = combine(seed, finding.title);
        seed = combine(seed, finding.explanation);
        seed = combine(seed, finding.evidence);
    }
    return seed;
}

bool operator==(const CommandThreatReviewRequest &, const CommandThreatReviewRequest &) = default;
