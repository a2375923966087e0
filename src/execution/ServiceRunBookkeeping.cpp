#include "execution/ServiceRunBookkeeping.h"

#include "profiles/EnvironmentProfilesManager.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/UserPerceivedText.h"

#include <QCoroTimer>
#include <QPointer>

#include <memory>
#include <utility>

namespace {

using SteadyClock = std::chrono::steady_clock;

QCoro::Task<> markWhenDrained(QPointer<ServiceRunHistoryManager> history, std::shared_ptr<bool> drained)
{
    if (history)
        co_await history->waitForPendingWrites();
    *drained = true;
}

} // namespace

ServiceRunBookkeeping::ServiceRunBookkeeping(ServiceRunHistoryManager &runHistoryManager,
                                             EnvironmentProfilesManager &environmentProfilesManager)
    : m_runHistoryManager(runHistoryManager),
      m_environmentProfilesManager(environmentProfilesManager)
{}

void ServiceRunBookkeeping::queueWrite(const ServiceRunRecord &record, ServiceRunHistoryManager::RunKind kind)
{
    const int epoch = m_runHistoryManager.clearEpoch(record.serviceId);
    m_runHistoryManager.insertRecord(record);
    m_runHistoryManager.enqueueAppend(record.serviceId, epoch, record, kind);
}

void ServiceRunBookkeeping::recordBlockedLaunch(const ManagedService &service,
                                                const CommandThreatAssessment &assessment)
{
    const std::optional<EnvironmentProfile> profile =
        m_environmentProfilesManager.profile(service.environmentProfileId);
    const QDateTime now = QDateTime::currentDateTimeUtc();

    ServiceRunRecord record;
    record.id = QUuid::createUuid();
    record.serviceId = service.id;
    record.startedAt = now;
    record.endedAt = now;
    if (profile)
        record.environmentProfileName = profile->name;
    record.environmentProfileId = service.environmentProfileId;
    record.stopReason = ServiceRunStopReason::securityBlocked;
    record.securityScan = ServiceRunSecurityScan {ServiceRunSecurityOutcome::blocked, assessment.findings};
    queueWrite(record, ServiceRunHistoryManager::RunKind::blockedLaunch);
}

void ServiceRunBookkeeping::beginRun(const ManagedService &service, qint32 pid,
                                     const QList<CommandThreatFinding> &findings)
{
    const std::optional<EnvironmentProfile> profile =
        m_environmentProfilesManager.profile(service.environmentProfileId);
    const bool protectedProfile = profile && profile->isProtected;
    QList<ServiceRunEnvironmentEntry> environment;
    for (ServiceRunEnvironmentEntry entry :
         m_environmentProfilesManager.runEnvironmentEntries(service.environmentProfileId)) {
        if (entry.key.isEmpty())
            continue;
        if (protectedProfile || entry.isSecret) {
            entry.value = ServiceRunEnvironmentEntry::secretMask;
            entry.isSecret = true;
        }
        environment.append(entry);
    }

    if (m_runHistoryManager.activeDraft(service.id))
        m_runHistoryManager.finishRun(service.id, ServiceRunStopReason::unexpected, std::nullopt, QString());

    ActiveRunDraft draft;
    draft.id = QUuid::createUuid();
    draft.serviceId = service.id;
    draft.startedAt = QDateTime::currentDateTimeUtc();
    draft.pid = pid;
    if (profile) {
        draft.environmentProfileName = profile->name;
        draft.environmentProfileId = profile->id;
    }
    draft.environment = redactSecretEnvironmentEntries(environment);
    draft.securityScan = findings.isEmpty() ? ServiceRunSecurityScan {ServiceRunSecurityOutcome::noFindings, {}}
                                            : ServiceRunSecurityScan {ServiceRunSecurityOutcome::approved, findings};
    m_runHistoryManager.setActiveDraft(std::move(draft));
}

void ServiceRunBookkeeping::recordExit(const QUuid &serviceId, qint32 exitCode, QString output)
{
    if (exitCode != 0)
        output += QStringLiteral("\n[Exited with code %1]").arg(exitCode);
    m_runHistoryManager.finishRun(serviceId, ServiceRunStopReason::exited, exitCode, output);
}

void ServiceRunBookkeeping::recordStop(const QUuid &serviceId, bool forced, const QString &output)
{
    m_runHistoryManager.finishRun(serviceId, forced ? ServiceRunStopReason::forceKilled : ServiceRunStopReason::stopped,
                                  std::nullopt, output);
}

void ServiceRunBookkeeping::recordUnexpectedEnd(const QUuid &serviceId, const QDateTime &endedAt, const QString &output)
{
    const std::optional<ActiveRunDraft> draft = m_runHistoryManager.takeActiveDraft(serviceId);
    if (!draft)
        return;
    ServiceRunRecord record =
        draft->record(endedAt, ServiceRunStopReason::unexpected, std::nullopt,
                      UserPerceivedText::lastCharacters(output, ServiceRunRecord::maximumOutputCharacters));
    redactSecretEnvironmentEntriesInPlace(record.environment);
    queueWrite(record, ServiceRunHistoryManager::RunKind::finishedRun);
}

void ServiceRunBookkeeping::recordUsage(const QUuid &serviceId, double cpuPercent, quint64 memoryBytes, qint32 pid)
{
    m_runHistoryManager.updatePeakUsage(serviceId, cpuPercent, memoryBytes);
    m_runHistoryManager.updatePid(serviceId, pid);
}

QCoro::Task<> ServiceRunBookkeeping::clearHistory(QUuid serviceId)
{
    return m_runHistoryManager.clearHistory(serviceId, true);
}

QCoro::Task<bool> ServiceRunBookkeeping::waitForWrites(std::chrono::milliseconds timeout)
{
    auto drained = std::make_shared<bool>(false);
    const QCoro::Task<> drain = markWhenDrained(QPointer<ServiceRunHistoryManager>(&m_runHistoryManager), drained);
    // A large history takes a while per write: wait as long as writes keep
    // finishing, and give up only when none has for `timeout`.
    QPointer<ServiceRunHistoryManager> history(&m_runHistoryManager);
    quint64 finished = m_runHistoryManager.finishedWriteCount();
    auto deadline = SteadyClock::now() + timeout;
    while (!*drained && SteadyClock::now() < deadline) {
        co_await QCoro::sleepFor(std::chrono::milliseconds(20));
        const ServiceRunHistoryManager *manager = history.data();
        if (!manager)
            break;
        if (manager->finishedWriteCount() != finished) {
            finished = manager->finishedWriteCount();
            deadline = SteadyClock::now() + timeout;
        }
    }
    co_return *drained;
}

QCoro::Task<> ServiceRunBookkeeping::logUnwrittenRuns()
{
    co_await m_runHistoryManager.logUnwrittenRuns();
}
