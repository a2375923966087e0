#include "records/ActiveRunDraft.h"

ServiceRunRecord ActiveRunDraft::record(const QDateTime &endedAt, ServiceRunStopReason stopReason,
                                        std::optional<qint32> exitCode, const QString &output) const
{
    ServiceRunRecord result;
    result.id = id;
    result.serviceId = serviceId;
    result.startedAt = startedAt;
    result.endedAt = endedAt;
    result.pid = pid;
    result.peakCpuPercent = peakCpuPercent;
    result.peakMemoryBytes = peakMemoryBytes;
    result.environmentProfileName = environmentProfileName;
    result.environmentProfileId = environmentProfileId;
    result.environment = environment;
    result.stopReason = stopReason;
    result.exitCode = exitCode;
    result.output = output;
    result.securityScan = securityScan;
    return result;
}

size_t qHash(const ActiveRunDraft &draft, size_t seed)
{
    return qHashMulti(seed, draft.id, draft.serviceId, draft.startedAt, draft.pid.value_or(0), draft.pid.has_value(),
                      draft.peakCpuPercent, draft.peakMemoryBytes, draft.environmentProfileName.value_or(QString()),
                      draft.environmentProfileName.has_value(), draft.environmentProfileId.value_or(QUuid()),
                      draft.environmentProfileId.has_value(), draft.environment,
                      draft.securityScan ? qHash(*draft.securityScan) : size_t(0), draft.securityScan.has_value());
}
