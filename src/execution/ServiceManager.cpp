#include "execution/ServiceManager.h"

#include "execution/CommandThreatScanner.h"
#include "execution/ProcessLauncher.h"
#include "execution/ProcessRunnerError.h"
#include "execution/ServiceManagerError.h"
#include "execution/SudoPasswordResponder.h"
#include "execution/SudoWrapper.h"
#include "execution/TerminalFolderCleanup.h"
#include "execution/TerminalLaunch.h"
#include "execution/TerminalLaunchError.h"
#include "platform/Logging.h"
#include "platform/ProcessTermination.h"
#include "platform/TerminalLauncher.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ProtectedProfilesError.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/UserPerceivedText.h"

#include <QCollator>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QPointer>

#include <algorithm>
#include <csignal>
#include <utility>

namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

void sortByName(QList<ManagedService> &services)
{
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(services.begin(), services.end(), [&collator](const ManagedService &a, const ManagedService &b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

ProtectedProfilesError decryptionFailed()
{
    return ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
}

ServiceManagerError serviceNoLongerExists()
{
    return ServiceManagerError::launchFailed(QStringLiteral("Service no longer exists."));
}

void markStopped(ServiceRuntimeInfo &entry)
{
    entry.state = ServiceLifecycleState::stopped;
    entry.pid.reset();
    entry.cpuPercent = 0;
    entry.memoryBytes = 0;
    entry.uptime.reset();
}

bool isRunning(const ServiceRuntimeInfo &entry)
{
    return entry.state == ServiceLifecycleState::running;
}

// The coarse timer of QCoro::sleepFor may fire 5% early; the grace period is
// a promise to the child.
QCoro::Task<> sleepPrecisely(milliseconds duration)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

// Waits for the processes to go, and kills what outlives the wait. Touches
// nothing of the manager, which may go away meanwhile.
QCoro::Task<> endWhatRemains(ProcessTermination termination, milliseconds timeout)
{
    const bool gone = co_await termination.waitUntilGone(timeout);
    if (gone)
        co_return;
    // Recording the stop while processes of the service run on would leave them running untracked.
    qCCritical(lcProcess, "Processes of %d outlived its stop; killing them", int(termination.id()));
    termination.signal(SIGKILL);
    co_await termination.waitUntilGone(ServiceManager::killWaitTimeout);
}

QCoro::Task<> markWhenDrained(QPointer<ServiceRunHistoryManager> history, std::shared_ptr<bool> drained)
{
    if (history)
        co_await history->waitForPendingWrites();
    *drained = true;
}

// Keeps a service marked as being started for as long as the start runs.
class StartClaim {
public:
    StartClaim(QSet<QUuid> &starts, QPointer<ServiceManager> owner, const QUuid &serviceId)
        : m_starts(starts), m_owner(std::move(owner)), m_serviceId(serviceId)
    {
        m_starts.insert(m_serviceId);
    }
    ~StartClaim()
    {
        if (m_owner)
            m_starts.remove(m_serviceId);
    }
    StartClaim(const StartClaim &) = delete;
    StartClaim &operator=(const StartClaim &) = delete;

private:
    QSet<QUuid> &m_starts;
    QPointer<ServiceManager> m_owner;
    QUuid m_serviceId;
};

// Keeps a service marked as being stopped for as long as the stop runs.
class StopClaim {
public:
    StopClaim(QHash<QUuid, int> &stops, QPointer<ServiceManager> owner, const QUuid &serviceId)
        : m_stops(stops), m_owner(std::move(owner)), m_serviceId(serviceId)
    {
        ++m_stops[m_serviceId];
    }
    ~StopClaim()
    {
        if (m_owner && --m_stops[m_serviceId] <= 0)
            m_stops.remove(m_serviceId);
    }
    StopClaim(const StopClaim &) = delete;
    StopClaim &operator=(const StopClaim &) = delete;

private:
    QHash<QUuid, int> &m_stops;
    QPointer<ServiceManager> m_owner;
    QUuid m_serviceId;
};

} // namespace

ServiceManager::ServiceManager(ServiceRepository &repository, EnvironmentProfilesManager &environmentProfilesManager,
                               ServiceRunHistoryManager &runHistoryManager, ProtectedProfilesLockManager &lockManager,
                               SettingsProvider settingsProvider, std::shared_ptr<TerminalLauncher> terminalLauncher,
                               TerminalFolderCleanup *terminalFolderCleanup, QObject *parent)
    : QObject(parent),
      m_repository(repository),
      m_environmentProfilesManager(environmentProfilesManager),
      m_runHistoryManager(runHistoryManager),
      m_settingsProvider(settingsProvider ? std::move(settingsProvider) : SettingsBridge().provider()),
      m_lockManager(lockManager),
      m_terminalLauncher(terminalLauncher ? std::move(terminalLauncher) : std::make_shared<TerminalLauncher>()),
      m_terminalFolderCleanup(terminalFolderCleanup ? terminalFolderCleanup : &TerminalFolderCleanup::shared())
{
    m_liveOutputTimer.setSingleShot(true);
    m_liveOutputTimer.setInterval(outputPublishInterval);
    connect(&m_liveOutputTimer, &QTimer::timeout, this, &ServiceManager::publishLiveOutput);
}

ServiceManager::~ServiceManager() = default;

QHash<QUuid, qint32> ServiceManager::ownedPIDs() const
{
    QHash<QUuid, qint32> pids;
    for (auto entry = m_ownedPIDs.cbegin(); entry != m_ownedPIDs.cend(); ++entry)
        pids.insert(entry.key(), entry->pid);
    return pids;
}

// ---- Services, storage and protected access

void ServiceManager::publishServices(LoadedServices loaded)
{
    sortByName(loaded.services);
    if (m_services != loaded.services) {
        m_services = std::move(loaded.services);
        Q_EMIT servicesChanged();
    }
    if (m_legacyEncryptedServiceIDs != loaded.legacyEncryptedServiceIDs) {
        m_legacyEncryptedServiceIDs = std::move(loaded.legacyEncryptedServiceIDs);
        Q_EMIT legacyEncryptedServiceIDsChanged();
    }
}

void ServiceManager::addFreshRuntimeEntries()
{
    QList<QUuid> added;
    for (const ManagedService &service : std::as_const(m_services)) {
        if (!m_runtime.contains(service.id)) {
            m_runtime.insert(service.id, ServiceRuntimeInfo::fresh(service.id));
            added.append(service.id);
        }
    }
    if (added.isEmpty())
        return;
    for (const QUuid &id : std::as_const(added))
        announceEntryChanged(id);
    Q_EMIT runtimeChanged();
}

QCoro::Task<bool> ServiceManager::reloadServices()
{
    QPointer<ServiceManager> self(this);
    LoadedServices loaded = co_await m_repository.loadServices();
    if (!self)
        co_return false;
    publishServices(std::move(loaded));
    co_return true;
}

QCoro::Task<> ServiceManager::loadServices()
{
    const bool reloaded = co_await reloadServices();
    if (reloaded)
        addFreshRuntimeEntries();
}

QCoro::Task<> ServiceManager::migrateLegacyEncryptedServices()
{
    if (m_legacyEncryptedServiceIDs.isEmpty())
        co_return;
    // The repository converts every legacy record with the one key.
    const QUuid anyId = *m_legacyEncryptedServiceIDs.cbegin();
    co_await migrateLegacyEncryptedService(anyId, ProtectedUnlockReason::migrateLegacyServices());
}

QCoro::Task<ManagedService> ServiceManager::migrateLegacyEncryptedService(QUuid serviceId,
                                                                          ProtectedUnlockReason reason)
{
    QPointer<ServiceManager> self(this);
    const std::optional<ManagedService> found = service(serviceId);
    if (!found)
        throw decryptionFailed();
    if (!m_legacyEncryptedServiceIDs.contains(serviceId))
        co_return *found;

    const ProtectedPayloadCrypto key = co_await m_lockManager.unlock(reason);
    if (!self)
        throw decryptionFailed();
    co_await m_repository.migrateLegacyEncryptedRecords(
        [key](const QUuid &id, const ProtectedPayloadEnvelope &envelope) {
            return openProtectedPayload(envelope, id, ProtectedPayloadKind::service, key);
        });
    if (!self)
        throw decryptionFailed();
    // GCC 12 mis-builds a co_await inside a short-circuit condition.
    const bool reloaded = co_await reloadServices();
    if (!reloaded)
        throw decryptionFailed();

    const std::optional<ManagedService> migrated = service(serviceId);
    if (!migrated)
        throw decryptionFailed();
    co_return *migrated;
}

QCoro::Task<ManagedService> ServiceManager::ensureProtectedAccess(QUuid serviceId, ProtectedUnlockReason reason)
{
    QPointer<ServiceManager> self(this);
    ManagedService current = co_await migrateLegacyEncryptedService(serviceId, reason);
    if (!self)
        co_return current;
    if (current.environmentProfileId
        && m_environmentProfilesManager.lockedProfileIDs().contains(*current.environmentProfileId))
        co_await m_environmentProfilesManager.unlockProfile(*current.environmentProfileId, reason);
    co_return current;
}

std::optional<ManagedService> ServiceManager::service(const QUuid &id) const
{
    for (const ManagedService &candidate : m_services) {
        if (candidate.id == id)
            return candidate;
    }
    return std::nullopt;
}

bool ServiceManager::usesProtectedProfile(const ManagedService &service) const
{
    return service.environmentProfileId
           && m_environmentProfilesManager.lockedProfileIDs().contains(*service.environmentProfileId);
}

QSet<qint32> ServiceManager::trackedProcessIDs() const
{
    QSet<qint32> pids;
    for (const ProcessIdentity &process : m_ownedPIDs)
        pids.insert(process.pid);
    for (const auto &handle : m_launchedHandles) {
        if (handle->isRunning())
            pids.insert(handle->processIdentifier());
    }
    for (const ServiceRuntimeInfo &entry : m_runtime) {
        if (isRunning(entry) && entry.pid)
            pids.insert(*entry.pid);
    }
    return pids;
}

QCoro::Task<> ServiceManager::saveService(ManagedService service)
{
    QPointer<ServiceManager> self(this);
    const auto entry = m_runtime.constFind(service.id);
    if (entry != m_runtime.cend() && isRunning(*entry))
        throw ServiceManagerError::editingRunningService();

    ManagedService copy = service;
    copy.updatedAt = QDateTime::currentDateTimeUtc();
    const std::optional<ManagedService> previous = this->service(service.id);

    co_await m_repository.saveService(copy);
    if (!self)
        co_return;
    const bool reloaded = co_await reloadServices();
    if (!reloaded)
        co_return;

    if (!m_runtime.contains(copy.id))
        addFreshRuntimeEntries();
    else if (!previous || previous->openInTerminal != copy.openInTerminal)
        clearRuntimeOutput(copy.id);
}

void ServiceManager::clearRuntimeOutput(const QUuid &serviceId)
{
    if (!m_runtime.contains(serviceId))
        return;
    ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
    if (entry.processOutput.isEmpty())
        return;
    entry.processOutput.clear();
    setRuntimeEntry(std::move(entry));
}

std::optional<ProcessIdentity> ServiceManager::recordedProcess(const QUuid &serviceId) const
{
    if (const auto owned = m_ownedPIDs.constFind(serviceId); owned != m_ownedPIDs.cend())
        return *owned;
    const auto entry = m_runtime.constFind(serviceId);
    if (entry != m_runtime.cend() && entry->pid) {
        // A pid without a recorded start time cannot be told from a reuser of
        // the id, so it never counts as alive.
        return ProcessIdentity {*entry->pid, std::nullopt};
    }
    return std::nullopt;
}

void ServiceManager::recordOwnedProcess(const QUuid &serviceId, qint32 pid)
{
    const auto owned = m_ownedPIDs.constFind(serviceId);
    if (owned != m_ownedPIDs.cend() && owned->pid == pid)
        return;
    m_ownedPIDs.insert(serviceId, ProcessIdentity::current(pid, m_procFileSystem));
}

void ServiceManager::refreshRuntimeState(const QUuid &serviceId)
{
    if (const auto handle = m_launchedHandles.value(serviceId)) {
        if (handle->isRunning()) {
            const qint32 pid = handle->processIdentifier();
            ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
            if (!isRunning(entry) || entry.pid != pid) {
                entry.state = ServiceLifecycleState::running;
                entry.pid = pid;
                setRuntimeEntry(std::move(entry));
            }
            recordOwnedProcess(serviceId, pid);
            return;
        }
        // An exit that was reaped but has not reached the main thread yet is
        // booked now, so the run keeps its exit code even when a new launch
        // follows at once.
        const auto pending = m_pendingExits.constFind(handle.get());
        if (pending != m_pendingExits.cend()) {
            if (const std::optional<ProcessExitStatus> status = handle->exitStatus())
                deliverExit(handle.get(), *status);
        }
        m_launchedHandles.remove(serviceId);
    }

    if (const std::optional<ProcessIdentity> process = recordedProcess(serviceId)) {
        if (process->isAlive(m_procFileSystem)) {
            ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
            if (!isRunning(entry) || entry.pid != process->pid) {
                entry.state = ServiceLifecycleState::running;
                entry.pid = process->pid;
                setRuntimeEntry(std::move(entry));
            }
            m_ownedPIDs.insert(serviceId, *process);
            return;
        }
        m_ownedPIDs.remove(serviceId);
    }

    const auto existing = m_runtime.constFind(serviceId);
    if (existing != m_runtime.cend() && (isRunning(*existing) || existing->pid)) {
        ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
        markStopped(entry);
        setRuntimeEntry(std::move(entry));
    }
}

// ---- Launch preparation, start and restart

ProtectedUnlockReason ServiceManager::launchReason(const ManagedService &service) const
{
    const std::optional<EnvironmentProfile> profile = m_environmentProfilesManager.profile(service.environmentProfileId);
    return ProtectedUnlockReason::launchService(service.name,
                                                profile ? profile->name : QStringLiteral("Protected Profile"));
}

void ServiceManager::recordBlockedLaunch(const ManagedService &service, const CommandThreatAssessment &assessment)
{
    const std::optional<EnvironmentProfile> profile = m_environmentProfilesManager.profile(service.environmentProfileId);
    const int epoch = m_runHistoryManager.clearEpoch(service.id);
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

    m_runHistoryManager.insertRecord(record);
    ServiceRunHistoryManager *history = &m_runHistoryManager;
    const QUuid serviceId = service.id;
    m_runHistoryManager.enqueueWrite(
        [history, serviceId, epoch, record] { return history->persistBlockedLaunch(serviceId, epoch, record); });
}

CommandThreatAssessment ServiceManager::prepareLaunch(const QUuid &serviceId,
                                                      const std::optional<CommandThreatApproval> &approval)
{
    const std::optional<ManagedService> found = service(serviceId);
    if (!found)
        throw serviceNoLongerExists();
    if (found->command.trimmed().isEmpty())
        throw ServiceManagerError::missingCommand();

    CommandThreatAssessment assessment = CommandThreatScanner::assess(found->command);
    if (assessment.hasCriticalFinding()) {
        recordBlockedLaunch(*found, assessment);
        throw ServiceManagerError::commandThreatBlocked(assessment);
    }
    if (assessment.findings.isEmpty())
        return assessment;
    if (approval && approval->matches(assessment))
        return assessment;
    throw ServiceManagerError::commandThreatReviewRequired(assessment);
}

QCoro::Task<> ServiceManager::start(QUuid serviceId, std::optional<QString> sudoPassword,
                                    std::optional<CommandThreatApproval> approval)
{
    QPointer<ServiceManager> self(this);
    const std::optional<ManagedService> named = service(serviceId);
    if (!named)
        co_return;
    // A second start while this one waits for authentication or the
    // environment would launch a second child.
    if (m_startsInProgress.contains(serviceId))
        throw ServiceManagerError::alreadyRunning();
    const StartClaim claim(m_startsInProgress, self, serviceId);

    const ManagedService current = co_await ensureProtectedAccess(serviceId, launchReason(*named));
    if (!self)
        co_return;
    refreshRuntimeState(serviceId);
    if (isRunning(runtimeEntryOrFresh(serviceId)))
        throw ServiceManagerError::alreadyRunning();
    if (current.command.trimmed().isEmpty())
        throw ServiceManagerError::missingCommand();
    const CommandThreatAssessment assessment = prepareLaunch(serviceId, approval);

    const QMap<QString, QString> environment =
        co_await m_environmentProfilesManager.resolvedEnvironment(current.environmentProfileId, current.name);
    if (!self)
        co_return;
    if (!service(serviceId))
        throw serviceNoLongerExists();
    const QString shellPath = m_settingsProvider().defaultShell;

    if (current.openInTerminal)
        launchServiceInTerminal(current, environment, shellPath);
    else if (!m_terminating)  // after the quit's stop of every service, a child would outlive the application
        launchInApplication(current, environment, shellPath, sudoPassword, assessment.findings);
}

QCoro::Task<> ServiceManager::restart(QUuid serviceId, std::optional<QString> sudoPassword,
                                      std::optional<CommandThreatApproval> approval)
{
    QPointer<ServiceManager> self(this);
    const std::optional<ManagedService> named = service(serviceId);
    if (!named)
        co_return;
    co_await ensureProtectedAccess(serviceId, launchReason(*named));
    if (!self)
        co_return;
    prepareLaunch(serviceId, approval);

    const auto entry = m_runtime.constFind(serviceId);
    if (entry != m_runtime.cend() && isRunning(*entry)) {
        co_await stop(serviceId, false);
        if (!self)
            co_return;
        const qint32 pid = m_ownedPIDs.contains(serviceId) ? m_ownedPIDs.value(serviceId).pid : -1;
        co_await waitForExit(pid, exitWaitTimeout);
        if (!self)
            co_return;
    }
    co_await start(serviceId, sudoPassword, approval);
}

// ---- Terminal and in-application launches

void ServiceManager::launchServiceInTerminal(const ManagedService &service, const QMap<QString, QString> &environment,
                                             const QString &shellPath)
{
    const TerminalLaunchRequest request {service.name, service.command, environment, shellPath, QDir::homePath()};
    try {
        launchInTerminal(request, *m_terminalLauncher, *m_terminalFolderCleanup);
    } catch (const TerminalLaunchError &error) {
        if (error.errorCase() == TerminalLaunchError::Case::invalidEnvironmentKey)
            throw ServiceManagerError::invalidEnvironmentKey(error.key());
        throw ServiceManagerError::launchFailed(error.launchMessage());
    }
    ServiceRuntimeInfo entry = runtimeEntryOrFresh(service.id);
    entry.state = ServiceLifecycleState::stopped;
    entry.pid.reset();
    entry.processOutput.clear();
    setRuntimeEntry(std::move(entry));
}

void ServiceManager::launchInApplication(const ManagedService &service, const QMap<QString, QString> &environment,
                                         const QString &shellPath, const std::optional<QString> &sudoPassword,
                                         const QList<CommandThreatFinding> &findings)
{
    const std::optional<QString> prompt = makeSudoPrompt(service.command, sudoPassword);
    const QString home = QDir::homePath();
    ProcessLaunchConfiguration configuration;
    if (prompt && !prompt->isEmpty()) {
        configuration = makeSudoLaunchConfiguration(shellPath, service.command, *prompt, environment, home);
    } else {
        configuration.rawCommand = service.command;
        configuration.useShell = true;
        configuration.workingDirectory = home;
        configuration.environment = environment;
        configuration.shellPath = shellPath;
        configuration.usePseudoTerminal = true;
    }
    const std::shared_ptr<SudoPasswordResponder> responder = SudoPasswordResponder::make(sudoPassword, prompt);
    if (responder)
        responder->scheduleClearPassword();

    std::shared_ptr<RunningProcessHandle> handle;
    try {
        handle = launchProcess(configuration);
    } catch (const ProcessRunnerError &error) {
        throw ServiceManagerError::launchFailed(error.errorDescription());
    } catch (const std::exception &error) {
        throw ServiceManagerError::launchFailed(QString::fromLocal8Bit(error.what()));
    }

    const QUuid serviceId = service.id;
    const qint32 pid = handle->processIdentifier();
    const quint64 generation = nextLaunchGeneration(serviceId);
    m_launchedHandles.insert(serviceId, handle);
    m_ownedPIDs.insert(serviceId, ProcessIdentity::current(pid, m_procFileSystem));
    m_pendingExits.insert(handle.get(), PendingExit {handle, serviceId, generation});

    // The entry starts over before the handler is installed, since installing
    // it hands over what the child wrote so far at once.
    ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
    entry.state = ServiceLifecycleState::running;
    entry.pid = pid;
    entry.uptime = 0;
    entry.processOutput.clear();
    setRuntimeEntry(std::move(entry));

    const QPointer<ServiceManager> self(this);
    const std::weak_ptr<RunningProcessHandle> weakHandle = handle;
    handle->setOutputHandler([self, weakHandle, serviceId, responder](const QString &text, bool skipped) {
        if (self)
            self->handleOutput(serviceId, text, skipped, weakHandle, responder);
    });
    beginRun(service, pid, findings);
    handle->setExitHandler([self, weakHandle](ProcessExitStatus status) {
        const std::shared_ptr<RunningProcessHandle> exited = weakHandle.lock();
        if (self && exited)
            self->deliverExit(exited.get(), status);
    });
}

quint64 ServiceManager::nextLaunchGeneration(const QUuid &serviceId)
{
    const quint64 next = m_launchGeneration.value(serviceId, 0) + 1;
    m_launchGeneration.insert(serviceId, next);
    return next;
}

void ServiceManager::beginRun(const ManagedService &service, qint32 pid, const QList<CommandThreatFinding> &findings)
{
    const std::optional<EnvironmentProfile> profile = m_environmentProfilesManager.profile(service.environmentProfileId);
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
    draft.securityScan = findings.isEmpty()
                             ? ServiceRunSecurityScan {ServiceRunSecurityOutcome::noFindings, {}}
                             : ServiceRunSecurityScan {ServiceRunSecurityOutcome::approved, findings};
    m_runHistoryManager.setActiveDraft(std::move(draft));
}

void ServiceManager::handleOutput(const QUuid &serviceId, const QString &chunk, bool earlierOutputSkipped,
                                  const std::weak_ptr<RunningProcessHandle> &weakHandle,
                                  const std::shared_ptr<SudoPasswordResponder> &responder)
{
    const std::shared_ptr<RunningProcessHandle> handle = weakHandle.lock();
    if (!handle || m_launchedHandles.value(serviceId) != handle)
        return;
    appendRuntimeOutput(serviceId, chunk, earlierOutputSkipped);
    if (responder)
        responder->respond(chunk, *handle);
}

void ServiceManager::deliverExit(const RunningProcessHandle *handle, ProcessExitStatus status)
{
    const auto pending = m_pendingExits.find(handle);
    if (pending == m_pendingExits.end())
        return;  // booked already
    const PendingExit exit = std::move(*pending);
    m_pendingExits.erase(pending);
    handleExit(exit.serviceId, exit.handle, status.terminationStatus(), exit.generation);
}

void ServiceManager::handleExit(const QUuid &serviceId, const std::shared_ptr<RunningProcessHandle> &handle,
                                qint32 exitCode, quint64 generation)
{
    const qint32 pid = handle->processIdentifier();
    if (!m_launchGeneration.contains(serviceId) || m_launchGeneration.value(serviceId) != generation)
        return;
    if (const auto current = m_launchedHandles.value(serviceId); current && current != handle)
        return;
    if (const auto owned = m_ownedPIDs.constFind(serviceId); owned != m_ownedPIDs.cend() && owned->pid != pid)
        return;
    if (const auto entry = m_runtime.constFind(serviceId);
        entry != m_runtime.cend() && isRunning(*entry) && entry->pid && *entry->pid != pid)
        return;

    if (m_launchedHandles.value(serviceId) == handle)
        m_launchedHandles.remove(serviceId);
    if (const auto owned = m_ownedPIDs.constFind(serviceId); owned != m_ownedPIDs.cend() && owned->pid == pid)
        m_ownedPIDs.remove(serviceId);

    QString output = handle->collectedOutput();
    if (exitCode != 0)
        output += QStringLiteral("\n[Exited with code %1]").arg(exitCode);

    ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
    markStopped(entry);
    entry.processOutput.clear();
    setRuntimeEntry(std::move(entry));

    m_runHistoryManager.finishRun(serviceId, ServiceRunStopReason::exited, exitCode, output);
}

// ---- Stopping and deleting

QCoro::Task<> ServiceManager::stop(QUuid serviceId, bool forced)
{
    QPointer<ServiceManager> self(this);
    refreshRuntimeState(serviceId);
    const auto entry = m_runtime.constFind(serviceId);
    const bool recordedRunning = entry != m_runtime.cend() && isRunning(*entry);
    if (!recordedRunning && !m_ownedPIDs.contains(serviceId) && !m_launchedHandles.contains(serviceId))
        throw ServiceManagerError::notRunning();
    // From here on the child's own exit report is ignored, and so is its
    // vanishing in a monitoring tick: this stop books the run.
    nextLaunchGeneration(serviceId);
    const StopClaim claim(m_stopsInProgress, self, serviceId);

    const std::shared_ptr<RunningProcessHandle> handle = m_launchedHandles.value(serviceId);
    if (handle && handle->isRunning()) {
        co_await endOwnChild(handle, forced);
        if (!self)
            co_return;
        if (m_launchedHandles.value(serviceId) == handle)
            m_launchedHandles.remove(serviceId);
        if (m_launchedHandles.contains(serviceId))
            co_return;  // a newer launch took over during the waits
        finishStop(serviceId, forced, handle->collectedOutput());
        co_return;
    }

    if (const std::optional<ProcessIdentity> process = recordedProcess(serviceId)) {
        co_await endRecordedProcess(*process, forced);
        if (!self || m_launchedHandles.contains(serviceId))
            co_return;
        finishStop(serviceId, forced, currentOutput(serviceId));
        co_return;
    }
    if (m_launchedHandles.contains(serviceId))
        co_return;
    finishStop(serviceId, forced, currentOutput(serviceId));
}

QCoro::Task<> ServiceManager::endOwnChild(std::shared_ptr<RunningProcessHandle> handle, bool forced)
{
    // The child leads a session of its own: whatever it started, in whichever
    // group, is in that session unless it left it.
    ProcessTermination session(ProcessTermination::Scope::session, handle->processIdentifier(), m_procFileSystem);
    if (forced) {
        session.signal(SIGTERM);
    } else {
        session.signal(SIGINT);
        co_await sleepPrecisely(interruptGracePeriod);
        if (session.anyAlive())
            session.signal(SIGTERM);
    }
    co_await endWhatRemains(session, exitWaitTimeout);
}

QCoro::Task<> ServiceManager::endRecordedProcess(ProcessIdentity process, bool forced)
{
    ProcessTermination termination =
        ProcessTermination::forRecordedProcess(process.pid, process.startTicks, m_procFileSystem);
    if (!termination.anyAlive())
        co_return;  // gone, or the id now names another process: nothing to signal
    termination.signal(forced ? SIGKILL : SIGTERM);
    co_await endWhatRemains(termination, exitWaitTimeout);
}

void ServiceManager::finishStop(const QUuid &serviceId, bool forced, const QString &output)
{
    m_ownedPIDs.remove(serviceId);
    ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
    markStopped(entry);
    entry.processOutput.clear();
    setRuntimeEntry(std::move(entry));
    m_runHistoryManager.finishRun(serviceId,
                                  forced ? ServiceRunStopReason::forceKilled : ServiceRunStopReason::stopped,
                                  std::nullopt, output);
}

QString ServiceManager::currentOutput(const QUuid &serviceId) const
{
    if (const auto handle = m_launchedHandles.value(serviceId))
        return handle->collectedOutput();
    if (const auto live = m_liveOutput.constFind(serviceId); live != m_liveOutput.cend())
        return live->buffer.text();
    return m_runtime.value(serviceId).processOutput;
}

QCoro::Task<> ServiceManager::waitForExit(qint32 pid, std::chrono::milliseconds timeout)
{
    if (pid < 1)
        co_return;
    ProcessIdentity process = ProcessIdentity::current(pid, m_procFileSystem);
    for (const ProcessIdentity &owned : std::as_const(m_ownedPIDs)) {
        if (owned.pid == pid)
            process = owned;
    }
    co_await ProcessTermination::forProcess(process.pid, process.startTicks, m_procFileSystem)
        .waitUntilGone(timeout);
}

QCoro::Task<> ServiceManager::stopAll(bool forced)
{
    QPointer<ServiceManager> self(this);
    QList<QUuid> running;
    for (const ManagedService &service : std::as_const(m_services)) {
        const auto entry = m_runtime.constFind(service.id);
        if (entry != m_runtime.cend() && isRunning(*entry))
            running.append(service.id);
    }
    for (const QUuid &id : std::as_const(running)) {
        try {
            co_await stop(id, forced);
        } catch (...) {
            // One service that cannot be stopped must not keep the others running.
        }
        if (!self)
            co_return;
    }
}

QCoro::Task<> ServiceManager::prepareForTermination()
{
    QPointer<ServiceManager> self(this);
    m_terminating = true;
    co_await stopAll(true);
    if (!self)
        co_return;
    m_terminalFolderCleanup->removePendingNow();

    auto drained = std::make_shared<bool>(false);
    const QCoro::Task<> drain = markWhenDrained(QPointer<ServiceRunHistoryManager>(&m_runHistoryManager), drained);
    const auto deadline = SteadyClock::now() + terminationDrainTimeout;
    while (!*drained && SteadyClock::now() < deadline)
        co_await QCoro::sleepFor(milliseconds(20));
    if (!*drained)
        qCCritical(lcPersistence, "Run history writes still pending at quit");
}

QCoro::Task<> ServiceManager::deleteService(QUuid id)
{
    QPointer<ServiceManager> self(this);
    const auto entry = m_runtime.constFind(id);
    if (entry != m_runtime.cend() && isRunning(*entry)) {
        try {
            co_await stop(id, true);
        } catch (...) {
            // Deleting goes on: the record must go even if the stop found nothing to stop.
        }
        if (!self)
            co_return;
    }
    co_await m_repository.deleteService(id);
    if (!self)
        co_return;
    const bool reloaded = co_await reloadServices();
    if (!reloaded)
        co_return;

    m_launchedHandles.remove(id);
    m_ownedPIDs.remove(id);
    m_launchGeneration.remove(id);
    m_liveOutput.remove(id);
    m_liveOutputStale.remove(id);
    m_liveOutputUnannounced.remove(id);
    if (m_runtime.remove(id) > 0) {
        announceEntryChanged(id);
        Q_EMIT runtimeChanged();
    }
    m_outputAnnouncements.remove(id);
    co_await m_runHistoryManager.clearHistory(id, true);
}

// ---- Process snapshot reconciliation

void ServiceManager::applyProcessSnapshots(const QList<ProcessSnapshot> &snapshots)
{
    if (m_services.isEmpty())
        return;
    // The before copies must hold the output shown so far: a vanished child's
    // record takes it.
    syncAllLiveOutput();
    QHash<QUuid, ServiceRuntimeInfo> working = m_runtime;
    QHash<qint32, ProcessSnapshot> snapshotsByPid;
    snapshotsByPid.reserve(snapshots.size());
    for (const ProcessSnapshot &snapshot : snapshots)
        snapshotsByPid.insert(snapshot.pid, snapshot);
    // An own child's figures are those of every process of its session, which
    // it leads: the launched shell often only waits while its children work.
    struct Usage {
        double cpuPercent = 0;
        quint64 memoryBytes = 0;
    };
    QHash<qint32, Usage> usageBySession;
    for (const ProcessSnapshot &snapshot : std::as_const(snapshotsByPid)) {
        if (snapshot.session > 0) {
            Usage &usage = usageBySession[snapshot.session];
            usage.cpuPercent += snapshot.cpuPercent;
            usage.memoryBytes += snapshot.memoryBytes;
        }
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();

    QList<QUuid> changed;
    for (const ManagedService &service : std::as_const(m_services)) {
        const QUuid id = service.id;
        ServiceRuntimeInfo entry = working.value(id, ServiceRuntimeInfo::fresh(id));
        const ServiceRuntimeInfo before = entry;
        const std::shared_ptr<RunningProcessHandle> handle = m_launchedHandles.value(id);

        std::optional<qint32> livePid;
        bool ownChild = false;
        if (handle && handle->isRunning()) {
            ownChild = true;
            // The live output stays as the hand-overs built it: taking the
            // handle's text here would show its not yet handed-over tail twice.
            livePid = handle->processIdentifier();
            recordOwnedProcess(id, *livePid);
        } else if (handle && m_pendingExits.contains(handle.get())) {
            continue;  // its exit is on its way and books the run with its exit code
        } else if (const std::optional<ProcessIdentity> process = recordedProcess(id);
                   process && process->isAlive(m_procFileSystem)) {
            livePid = process->pid;
            m_ownedPIDs.insert(id, *process);
        }

        if (!livePid && m_stopsInProgress.contains(id))
            continue;  // ended by a stop still under way, which books the run with its reason

        if (livePid) {
            entry.state = ServiceLifecycleState::running;
            entry.pid = *livePid;
            if (const auto snapshot = snapshotsByPid.constFind(*livePid); snapshot != snapshotsByPid.cend()) {
                const Usage usage = ownChild && snapshot->session == *livePid
                                        ? usageBySession.value(*livePid)
                                        : Usage {snapshot->cpuPercent, snapshot->memoryBytes};
                entry.cpuPercent = usage.cpuPercent;
                entry.memoryBytes = usage.memoryBytes;
                if (snapshot->startTime)
                    entry.uptime = double(snapshot->startTime->msecsTo(now)) / 1000.0;
                m_runHistoryManager.updatePeakUsage(id, usage.cpuPercent, usage.memoryBytes);
                m_runHistoryManager.updatePid(id, snapshot->pid);
            }
        } else if (isRunning(entry) || entry.pid || m_ownedPIDs.contains(id)) {
            markStopped(entry);
            entry.processOutput.clear();
            m_ownedPIDs.remove(id);
            if (handle)
                m_launchedHandles.remove(id);
            if (const std::optional<ActiveRunDraft> draft = m_runHistoryManager.takeActiveDraft(id)) {
                ServiceRunRecord record = draft->record(
                    now, ServiceRunStopReason::unexpected, std::nullopt,
                    UserPerceivedText::lastCharacters(before.processOutput, ServiceRunRecord::maximumOutputCharacters));
                redactSecretEnvironmentEntriesInPlace(record.environment);
                const int epoch = m_runHistoryManager.clearEpoch(id);
                m_runHistoryManager.insertRecord(record);
                ServiceRunHistoryManager *history = &m_runHistoryManager;
                m_runHistoryManager.enqueueWrite(
                    [history, id, epoch, record] { return history->persistRun(id, epoch, record); });
            }
        }

        if (entry != before) {
            working.insert(id, entry);
            changed.append(id);
        }
    }
    if (changed.isEmpty())
        return;

    m_runtime = std::move(working);
    for (const QUuid &id : std::as_const(changed)) {
        if (m_runtime.value(id).processOutput.isEmpty())
            m_liveOutput.remove(id);
        m_liveOutputUnannounced.remove(id);
        announceEntryChanged(id);
    }
    Q_EMIT runtimeChanged();
}

// ---- The runtime table and live output

ServiceRuntimeInfo ServiceManager::runtimeEntryOrFresh(const QUuid &serviceId)
{
    syncLiveOutput(serviceId);
    return m_runtime.value(serviceId, ServiceRuntimeInfo::fresh(serviceId));
}

void ServiceManager::setRuntimeEntry(ServiceRuntimeInfo entry)
{
    const QUuid id = entry.serviceId;
    if (entry.processOutput.isEmpty()) {
        m_liveOutput.remove(id);
        m_liveOutputStale.remove(id);
    } else {
        syncLiveOutput(id);
    }
    const auto existing = m_runtime.constFind(id);
    if (existing != m_runtime.cend() && *existing == entry)
        return;
    // Output written whole rather than appended (other than the clear, which
    // the announcement tells apart by itself) reaches consoles as a new text.
    if (!entry.processOutput.isEmpty()
        && (existing == m_runtime.cend() || existing->processOutput.constData() != entry.processOutput.constData()
            || existing->processOutput.size() != entry.processOutput.size()))
        m_outputAnnouncements[id].restarted = true;
    m_runtime.insert(id, std::move(entry));
    m_liveOutputUnannounced.remove(id);
    announceEntryChanged(id);
    Q_EMIT runtimeChanged();
}

void ServiceManager::appendRuntimeOutput(const QUuid &serviceId, const QString &chunk, bool replace)
{
    auto entry = m_runtime.find(serviceId);
    if (entry == m_runtime.end())
        entry = m_runtime.insert(serviceId, ServiceRuntimeInfo::fresh(serviceId));
    auto live = m_liveOutput.find(serviceId);
    if (live == m_liveOutput.end()) {
        live = m_liveOutput.insert(serviceId, LiveOutput {});
        if (!replace && !entry->processOutput.isEmpty())
            live->buffer.append(entry->processOutput);
    }
    if (replace) {
        live->buffer.clear();
        live->restarted = true;
        live->appendedUnits = 0;
    }
    live->buffer.append(chunk);
    live->appendedUnits += chunk.size();
    m_liveOutputStale.insert(serviceId);
    if (!m_liveOutputTimer.isActive())
        m_liveOutputTimer.start();
}

void ServiceManager::syncLiveOutput(const QUuid &serviceId)
{
    if (!m_liveOutputStale.remove(serviceId))
        return;
    const auto entry = m_runtime.find(serviceId);
    const auto live = m_liveOutput.find(serviceId);
    if (entry == m_runtime.end() || live == m_liveOutput.end())
        return;
    entry->processOutput = live->buffer.text();
    OutputAnnouncement &announcement = m_outputAnnouncements[serviceId];
    announcement.appendedUnits += std::exchange(live->appendedUnits, 0);
    if (std::exchange(live->restarted, false))
        announcement.restarted = true;
    m_liveOutputUnannounced.insert(serviceId);
}

void ServiceManager::syncAllLiveOutput()
{
    const QSet<QUuid> stale = m_liveOutputStale;
    for (const QUuid &id : stale)
        syncLiveOutput(id);
}

void ServiceManager::publishLiveOutput()
{
    syncAllLiveOutput();
    if (m_liveOutputUnannounced.isEmpty())
        return;
    const QSet<QUuid> changed = std::exchange(m_liveOutputUnannounced, {});
    for (const QUuid &id : changed)
        announceEntryChanged(id);
    Q_EMIT runtimeChanged();
}

void ServiceManager::announceEntryChanged(const QUuid &serviceId)
{
    announceOutput(serviceId);
    Q_EMIT runtimeEntryChanged(serviceId);
}

void ServiceManager::announceOutput(const QUuid &serviceId)
{
    const QString text = m_runtime.value(serviceId).processOutput;
    const OutputAnnouncement previous = std::exchange(m_outputAnnouncements[serviceId], {text.size(), 0, false});
    // The appends since the last announcement are the text's tail, and what
    // the cuts took came off the front of the announced text. When the cuts
    // reached into the appended part, or the text started over, the whole
    // text is the addition.
    qsizetype dropped = previous.announcedUnits;
    QString added = text;
    const qsizetype cut = previous.announcedUnits + previous.appendedUnits - text.size();
    if (!previous.restarted && previous.appendedUnits <= text.size() && cut >= 0
        && cut <= previous.announcedUnits) {
        dropped = cut;
        added = text.right(previous.appendedUnits);
    }
    if (dropped > 0 || !added.isEmpty())
        Q_EMIT outputAppended(serviceId, added, dropped);
}
