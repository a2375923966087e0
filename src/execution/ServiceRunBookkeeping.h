#pragma once

#include "execution/CommandThreatAssessment.h"
#include "records/CommandThreatFinding.h"
#include "records/ManagedService.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunRecord.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <chrono>
#include <memory>
#include <optional>

class EnvironmentProfilesManager;

// The run history as the manager's launches and stops write it: the record of
// a refused launch, the open run of a launched child, and its close when the
// child exits, is stopped or vanishes. Records that do not close an open run
// reach the disk through one queue, `queueWrite`. Main thread.
class ServiceRunBookkeeping {
public:
    // The managers must outlive the bookkeeping.
    ServiceRunBookkeeping(ServiceRunHistoryManager &runHistoryManager,
                          EnvironmentProfilesManager &environmentProfilesManager);

    // A launch the threat check refused: a finished record without a child.
    void recordBlockedLaunch(const ManagedService &service, const CommandThreatAssessment &assessment);
    // Opens the run of a child just launched, closing one left open as
    // unexpected. Environment values of a protected profile, and secret ones,
    // are masked.
    void beginRun(const ManagedService &service, qint32 pid, const QList<CommandThreatFinding> &findings);
    // Closes the run of a child that exited by itself, its exit code noted
    // after its output when not 0.
    void recordExit(const QUuid &serviceId, qint32 exitCode, QString output);
    // Closes the run of a child a stop ended.
    void recordStop(const QUuid &serviceId, bool forced, const QString &output);
    // Closes the run of a child that vanished without an exit report, with
    // the output shown last.
    void recordUnexpectedEnd(const QUuid &serviceId, const QDateTime &endedAt, const QString &output);
    void recordUsage(const QUuid &serviceId, double cpuPercent, quint64 memoryBytes, qint32 pid);

    QCoro::Task<> clearHistory(QUuid serviceId);
    // Holds the run history's writes while the returned object lives, so the
    // runs closed meanwhile reach the file together.
    std::shared_ptr<void> holdWrites() { return m_runHistoryManager.holdWrites(); }
    // Waits for every queued write as long as writes keep finishing, giving up
    // only when none has for `timeout`; false when some are still pending then.
    // Touches nothing of the bookkeeping while it waits.
    QCoro::Task<bool> waitForWrites(std::chrono::milliseconds timeout);
    // For the end of the quit: logs the finished runs saved nowhere.
    QCoro::Task<> logUnwrittenRuns();

private:
    void queueWrite(const ServiceRunRecord &record, ServiceRunHistoryManager::RunKind kind);

    ServiceRunHistoryManager &m_runHistoryManager;
    EnvironmentProfilesManager &m_environmentProfilesManager;
};
