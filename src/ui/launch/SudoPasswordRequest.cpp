#include "ui/launch/SudoPasswordRequest.h"

QString SudoPasswordRequest::id() const
{
    return rawValue(action) + QLatin1Char('-') + serviceId.toString(QUuid::WithoutBraces).toUpper();
}

size_t qHash(const SudoPasswordRequest &request, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, request.serviceId);
    seed = combine(seed, request.serviceName);
    seed = combine(seed, rawValue(request.action));
    if (request.commandThreatApproval) {
        seed = combine(seed, 1);
        seed = combine(seed, request.commandThreatApproval->commandFingerprint);
    } else {
        seed = combine(seed, 0);
    }
    return seed;
}

bool operator==(const SudoPasswordRequest &, const SudoPasswordRequest &) = default;
