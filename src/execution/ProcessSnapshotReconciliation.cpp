#include "execution/ProcessSnapshotReconciliation.h"

#include <utility>

ProcessSnapshotReconciliation::ProcessSnapshotReconciliation(const QList<ProcessSnapshot> &snapshots, QDateTime now)
    : m_now(std::move(now))
{
    m_snapshotsByPid.reserve(snapshots.size());
    for (const ProcessSnapshot &snapshot : snapshots)
        m_snapshotsByPid.insert(snapshot.pid, snapshot);
    for (const ProcessSnapshot &snapshot : std::as_const(m_snapshotsByPid)) {
        if (snapshot.session > 0) {
            Usage &usage = m_usageBySession[snapshot.session];
            usage.cpuPercent += snapshot.cpuPercent;
            usage.memoryBytes += snapshot.memoryBytes;
        }
    }
}

ProcessSnapshotReconciliation::Result
ProcessSnapshotReconciliation::reconcile(QHash<QUuid, ServiceRuntimeInfo> runtime,
                                         const QList<Observation> &observations) const
{
    Result result;
    for (const Observation &observation : observations) {
        if (observation.kind == Observation::Kind::undecided)
            continue;
        const QUuid id = observation.serviceId;
        const ServiceRuntimeInfo before = runtime.value(id, ServiceRuntimeInfo::fresh(id));
        ServiceRuntimeInfo entry = before;

        if (observation.kind == Observation::Kind::live) {
            entry.state = ServiceLifecycleState::running;
            entry.pid = observation.pid;
            if (const auto snapshot = m_snapshotsByPid.constFind(observation.pid);
                snapshot != m_snapshotsByPid.cend()) {
                const Usage usage = usageOf(*snapshot, observation);
                entry.cpuPercent = usage.cpuPercent;
                entry.memoryBytes = usage.memoryBytes;
                if (snapshot->startTime)
                    entry.uptime = double(snapshot->startTime->msecsTo(m_now)) / 1000.0;
                result.usages.append(usage);
            }
        } else if (entry.state == ServiceLifecycleState::running || entry.pid || observation.tracked) {
            entry.markStopped();
            entry.processOutput.clear();
            result.endings.append(id);
        }

        if (entry != before) {
            runtime.emplace(id, std::move(entry));
            result.changed.append(id);
        }
    }
    result.runtime = std::move(runtime);
    return result;
}

ProcessSnapshotReconciliation::Usage ProcessSnapshotReconciliation::usageOf(const ProcessSnapshot &snapshot,
                                                                            const Observation &observation) const
{
    Usage usage {observation.serviceId, snapshot.cpuPercent, snapshot.memoryBytes, snapshot.pid};
    if (observation.ownChild && snapshot.session == snapshot.pid) {
        const Usage session = m_usageBySession.value(snapshot.pid);
        usage.cpuPercent = session.cpuPercent;
        usage.memoryBytes = session.memoryBytes;
    }
    return usage;
}
