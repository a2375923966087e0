#include "execution/ServiceManager.h"

#include "execution/ProcessLauncher.h"
#include "execution/ProcessRunnerError.h"
#include "execution/ServiceManagerError.h"
#include "execution/SudoPasswordResponder.h"
#include "execution/TerminalFolderCleanup.h"
#include "execution/TerminalLaunch.h"
#include "execution/TerminalLaunchError.h"
#include "platform/Logging.h"
#include "platform/TerminalLauncher.h"

#include <QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QPointer>

#include <utility>

namespace {

ServiceManagerError serviceNoLongerExists()
{
    return ServiceManagerError::launchFailed(QStringLiteral("Service no longer exists."));
}

bool isRunning(const ServiceRuntimeInfo &entry)
{
    return entry.state == ServiceLifecycleState::running;
}

// Keeps a service marked as being started for as long as the start runs.
class StartClaim {
public:
    StartClaim(QSet<QUuid> &starts, QPointer<ServiceManager> owner, const QUuid &serviceId)
        : m_starts(starts),
          m_owner(std::move(owner)),
          m_serviceId(serviceId)
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
        : m_stops(stops),
          m_owner(std::move(owner)),
          m_serviceId(serviceId)
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
      m_catalog(repository, environmentProfilesManager, lockManager),
      m_preparation(environmentProfilesManager, std::move(settingsProvider)),
      m_bookkeeping(runHistoryManager, environmentProfilesManager),
      m_terminalLauncher(terminalLauncher ? std::move(terminalLauncher) : std::make_shared<TerminalLauncher>()),
      m_terminalFolderCleanup(terminalFolderCleanup ? terminalFolderCleanup : &TerminalFolderCleanup::shared())
{
    connect(&m_catalog, &ServiceCatalog::servicesChanged, this, &ServiceManager::servicesChanged);
    connect(&m_catalog, &ServiceCatalog::legacyEncryptedServiceIDsChanged, this,
            &ServiceManager::legacyEncryptedServiceIDsChanged);
    connect(&m_output, &ServiceOutputPublisher::published, this, &ServiceManager::publishOutput);
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

void ServiceManager::addFreshRuntimeEntries()
{
    QList<QUuid> added;
    for (const ManagedService &service : m_catalog.services()) {
        if (!m_runtime.contains(service.id)) {
            m_runtime.insert(service.id, ServiceRuntimeInfo::fresh(service.id));
            added.append(service.id);
        }
    }
    if (added.isEmpty())
        return;
    for (const QUuid &id : std::as_const(added))
        Q_EMIT runtimeEntryChanged(id);
    Q_EMIT runtimeChanged();
}

QCoro::Task<> ServiceManager::loadServices()
{
    QPointer<ServiceManager> self(this);
    const bool reloaded = co_await m_catalog.reload();
    if (self && reloaded)
        addFreshRuntimeEntries();
}

QCoro::Task<> ServiceManager::migrateLegacyEncryptedServices()
{
    return m_catalog.migrateLegacyEncryptedServices();
}

QCoro::Task<ManagedService> ServiceManager::migrateLegacyEncryptedService(QUuid serviceId, ProtectedUnlockReason reason)
{
    return m_catalog.migrateLegacyEncryptedService(serviceId, std::move(reason));
}

QCoro::Task<ManagedService> ServiceManager::ensureProtectedAccess(QUuid serviceId, ProtectedUnlockReason reason)
{
    return m_catalog.ensureProtectedAccess(serviceId, std::move(reason));
}

std::optional<ManagedService> ServiceManager::service(const QUuid &id) const
{
    return m_catalog.service(id);
}

bool ServiceManager::usesProtectedProfile(const ManagedService &service) const
{
    return m_catalog.usesProtectedProfile(service);
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

    const std::optional<ManagedService> previous = m_catalog.service(service.id);
    const bool saved = co_await m_catalog.save(service);
    if (!self || !saved)
        co_return;

    if (!m_runtime.contains(service.id))
        addFreshRuntimeEntries();
    else if (!previous || previous->openInTerminal != service.openInTerminal)
        clearRuntimeOutput(service.id);
}

void ServiceManager::clearRuntimeOutput(const QUuid &serviceId)
{
    if (m_runtime.contains(serviceId))
        clearOutputAndSetEntry(runtimeEntryOrFresh(serviceId));
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
        entry.markStopped();
        setRuntimeEntry(std::move(entry));
    }
}

// ---- Launch preparation, start and restart

CommandThreatAssessment ServiceManager::prepareLaunch(const QUuid &serviceId,
                                                      const std::optional<CommandThreatApproval> &approval)
{
    const std::optional<ManagedService> found = m_catalog.service(serviceId);
    if (!found)
        throw serviceNoLongerExists();
    CommandThreatAssessment assessment = ServiceLaunchPreparation::assess(*found);
    if (assessment.hasCriticalFinding()) {
        m_bookkeeping.recordBlockedLaunch(*found, assessment);
        throw ServiceManagerError::commandThreatBlocked(assessment);
    }
    ServiceLaunchPreparation::requireApproval(assessment, approval);
    return assessment;
}

QCoro::Task<> ServiceManager::start(QUuid serviceId, SharedSensitiveBytes sudoPassword,
                                    std::optional<CommandThreatApproval> approval)
{
    QPointer<ServiceManager> self(this);
    const std::optional<ManagedService> named = m_catalog.service(serviceId);
    if (!named)
        co_return;
    // A second start while this one waits for authentication or the
    // environment would launch a second child.
    if (m_startsInProgress.contains(serviceId))
        throw ServiceManagerError::alreadyRunning();
    const StartClaim claim(m_startsInProgress, self, serviceId);

    const ManagedService current =
        co_await m_catalog.ensureProtectedAccess(serviceId, m_preparation.launchReason(*named));
    if (!self)
        co_return;
    refreshRuntimeState(serviceId);
    if (isRunning(runtimeEntryOrFresh(serviceId)))
        throw ServiceManagerError::alreadyRunning();
    if (current.command.trimmed().isEmpty())
        throw ServiceManagerError::missingCommand();
    const CommandThreatAssessment assessment = prepareLaunch(serviceId, approval);

    const QMap<QString, QString> environment = co_await m_preparation.resolvedEnvironment(current);
    if (!self)
        co_return;
    if (!m_catalog.service(serviceId))
        throw serviceNoLongerExists();
    const QString shellPath = m_preparation.shellPath();

    if (current.openInTerminal)
        launchServiceInTerminal(current, environment, shellPath);
    else if (!m_terminating) // after the quit's stop of every service, a child would outlive the application
        launchInApplication(current, environment, shellPath, sudoPassword, assessment.findings);
}

QCoro::Task<> ServiceManager::restart(QUuid serviceId, SharedSensitiveBytes sudoPassword,
                                      std::optional<CommandThreatApproval> approval)
{
    QPointer<ServiceManager> self(this);
    const std::optional<ManagedService> named = m_catalog.service(serviceId);
    if (!named)
        co_return;
    const ManagedService current =
        co_await m_catalog.ensureProtectedAccess(serviceId, m_preparation.launchReason(*named));
    if (!self)
        co_return;
    prepareLaunch(serviceId, approval);
    // A start that must fail for want of the sudo helper must not stop the
    // running service first.
    if (sudoPassword && !sudoPassword->isEmpty() && ServiceLaunchPreparation::needsSudoPassword(current))
        requireSudoHelper();

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
    co_await start(serviceId, std::move(sudoPassword), approval);
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
    clearOutputAndSetEntry(std::move(entry));
}

void ServiceManager::launchInApplication(const ManagedService &service, const QMap<QString, QString> &environment,
                                         const QString &shellPath, const SharedSensitiveBytes &sudoPassword,
                                         const QList<CommandThreatFinding> &findings)
{
    const ServiceLaunchPreparation::InApplicationLaunch launch = ServiceLaunchPreparation::inApplicationLaunch(
        service, environment, shellPath, sudoPassword.get(), m_sudoPath, m_isSetUidSudo, m_sudoHelperCandidates);
    const std::shared_ptr<SudoPasswordResponder> responder = launch.responder;

    std::shared_ptr<RunningProcessHandle> handle;
    try {
        handle = launchProcess(launch.configuration);
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
    clearOutputAndSetEntry(std::move(entry));

    const QPointer<ServiceManager> self(this);
    const std::weak_ptr<RunningProcessHandle> weakHandle = handle;
    handle->setOutputHandler([self, weakHandle, serviceId, responder](const QString &text, bool skipped) {
        if (self)
            self->handleOutput(serviceId, text, skipped, weakHandle, responder);
    });
    m_bookkeeping.beginRun(service, pid, findings);
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

void ServiceManager::handleOutput(const QUuid &serviceId, const QString &chunk, bool earlierOutputSkipped,
                                  const std::weak_ptr<RunningProcessHandle> &weakHandle,
                                  const std::shared_ptr<SudoPasswordResponder> &responder)
{
    const std::shared_ptr<RunningProcessHandle> handle = weakHandle.lock();
    if (!handle || m_launchedHandles.value(serviceId) != handle)
        return;
    m_output.append(serviceId, chunk, earlierOutputSkipped);
    if (responder)
        responder->respond(chunk, *handle);
}

void ServiceManager::deliverExit(const RunningProcessHandle *handle, ProcessExitStatus status)
{
    const auto pending = m_pendingExits.find(handle);
    if (pending == m_pendingExits.end())
        return; // booked already
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

    const QString output = handle->collectedOutput();
    ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
    entry.markStopped();
    clearOutputAndSetEntry(std::move(entry));
    m_bookkeeping.recordExit(serviceId, exitCode, output);
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
        const ServiceProcessTermination::Stopping stopping =
            ServiceProcessTermination::endSession(handle->processIdentifier(), forced, m_procFileSystem);
        keepStopSequence(stopping);
        co_await stopping.leaderGone;
        if (!self)
            co_return;
        if (m_launchedHandles.value(serviceId) == handle)
            m_launchedHandles.remove(serviceId);
        if (m_launchedHandles.contains(serviceId))
            co_return; // a newer launch took over during the waits
        finishStop(serviceId, forced, handle->collectedOutput());
        co_return;
    }

    if (const std::optional<ProcessIdentity> process = recordedProcess(serviceId)) {
        const ServiceProcessTermination::Stopping stopping =
            ServiceProcessTermination::endRecordedProcess(*process, forced, m_procFileSystem);
        keepStopSequence(stopping);
        co_await stopping.leaderGone;
        if (!self || m_launchedHandles.contains(serviceId))
            co_return;
        finishStop(serviceId, forced, currentOutput(serviceId));
        co_return;
    }
    if (m_launchedHandles.contains(serviceId))
        co_return;
    finishStop(serviceId, forced, currentOutput(serviceId));
}

void ServiceManager::keepStopSequence(const ServiceProcessTermination::Stopping &stopping)
{
    m_stopSequences.removeIf([](const QFuture<void> &sequence) { return sequence.isFinished(); });
    m_stopSequences.append(stopping.finished);
}

QCoro::Task<> ServiceManager::waitForStopSequences()
{
    QPointer<ServiceManager> self(this);
    while (self && !m_stopSequences.isEmpty()) {
        const QFuture<void> sequence = m_stopSequences.takeFirst();
        co_await sequence;
    }
}

void ServiceManager::finishStop(const QUuid &serviceId, bool forced, const QString &output)
{
    m_ownedPIDs.remove(serviceId);
    ServiceRuntimeInfo entry = runtimeEntryOrFresh(serviceId);
    entry.markStopped();
    clearOutputAndSetEntry(std::move(entry));
    m_bookkeeping.recordStop(serviceId, forced, output);
}

QString ServiceManager::currentOutput(const QUuid &serviceId) const
{
    if (const auto handle = m_launchedHandles.value(serviceId))
        return handle->collectedOutput();
    return m_output.currentText(serviceId);
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
    co_await ServiceProcessTermination::waitForExit(process, timeout, m_procFileSystem);
}

QCoro::Task<> ServiceManager::stopAll(bool forced)
{
    QPointer<ServiceManager> self(this);
    QList<QUuid> running;
    for (const ManagedService &service : m_catalog.services()) {
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
    {
        // One write of the history for every run the stops close, not one each.
        const std::shared_ptr<void> heldWrites = m_bookkeeping.holdWrites();
        co_await stopAll(true);
    }
    if (!self)
        co_return;
    m_terminalFolderCleanup->removePendingNow();

    // The write runs while what the services started is still being ended.
    QCoro::Task<bool> writes = m_bookkeeping.waitForWrites(terminationDrainTimeout);
    co_await waitForStopSequences();
    if (!self)
        co_return;
    const bool drained = co_await std::move(writes);
    if (!self)
        co_return;
    if (!drained)
        qCCritical(lcPersistence, "Run history writes still pending at quit");
    co_await m_bookkeeping.logUnwrittenRuns();
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
    const bool removed = co_await m_catalog.remove(id);
    if (!self || !removed)
        co_return;

    m_launchedHandles.remove(id);
    m_ownedPIDs.remove(id);
    m_launchGeneration.remove(id);
    m_output.forget(id);
    if (m_runtime.remove(id) > 0) {
        Q_EMIT outputChanged(id);
        Q_EMIT runtimeEntryChanged(id);
        Q_EMIT runtimeChanged();
    }
    co_await m_bookkeeping.clearHistory(id);
}

// ---- Process snapshot reconciliation

void ServiceManager::applyProcessSnapshots(const QList<ProcessSnapshot> &snapshots)
{
    if (m_catalog.services().isEmpty())
        return;
    QList<ProcessSnapshotReconciliation::Observation> observations;
    observations.reserve(m_catalog.services().size());
    for (const ManagedService &service : m_catalog.services())
        observations.append(observeProcess(service.id));

    const ProcessSnapshotReconciliation reconciliation(snapshots, QDateTime::currentDateTimeUtc());
    ProcessSnapshotReconciliation::Result result = reconciliation.reconcile(m_runtime, observations);
    for (const ProcessSnapshotReconciliation::Usage &usage : std::as_const(result.usages))
        m_bookkeeping.recordUsage(usage.serviceId, usage.cpuPercent, usage.memoryBytes, usage.pid);
    QSet<QUuid> cleared;
    for (const QUuid &ended : std::as_const(result.endings)) {
        m_ownedPIDs.remove(ended);
        m_launchedHandles.remove(ended);
        // A vanished child's record takes all its output, also what is not published yet.
        m_bookkeeping.recordUnexpectedEnd(ended, reconciliation.now(), m_output.currentText(ended));
        if (m_output.reset(ended))
            cleared.insert(ended);
    }
    if (result.changed.isEmpty())
        return;

    m_runtime = std::move(result.runtime);
    for (const QUuid &id : std::as_const(result.changed)) {
        m_runtime[id].processOutput = m_output.output(id).text;
        if (cleared.contains(id))
            Q_EMIT outputChanged(id);
        Q_EMIT runtimeEntryChanged(id);
    }
    Q_EMIT runtimeChanged();
}

ProcessSnapshotReconciliation::Observation ServiceManager::observeProcess(const QUuid &serviceId)
{
    using Observation = ProcessSnapshotReconciliation::Observation;
    const std::shared_ptr<RunningProcessHandle> handle = m_launchedHandles.value(serviceId);
    if (handle && handle->isRunning()) {
        // The live output stays as the hand-overs built it: taking the
        // handle's text here would show its not yet handed-over tail twice.
        const qint32 pid = handle->processIdentifier();
        recordOwnedProcess(serviceId, pid);
        return Observation {.serviceId = serviceId, .kind = Observation::Kind::live, .pid = pid, .ownChild = true};
    }
    // Its exit is on its way and books the run with its exit code.
    if (handle && m_pendingExits.contains(handle.get()))
        return Observation {.serviceId = serviceId, .kind = Observation::Kind::undecided};
    if (const std::optional<ProcessIdentity> process = recordedProcess(serviceId);
        process && process->isAlive(m_procFileSystem)) {
        m_ownedPIDs.insert(serviceId, *process);
        return Observation {.serviceId = serviceId, .kind = Observation::Kind::live, .pid = process->pid};
    }
    // Ended by a stop still under way, which books the run with its reason.
    if (m_stopsInProgress.contains(serviceId))
        return Observation {.serviceId = serviceId, .kind = Observation::Kind::undecided};
    return Observation {.serviceId = serviceId, .tracked = m_ownedPIDs.contains(serviceId)};
}

// ---- The runtime table and live output

ServiceRuntimeInfo ServiceManager::runtimeEntryOrFresh(const QUuid &serviceId) const
{
    return m_runtime.value(serviceId, ServiceRuntimeInfo::fresh(serviceId));
}

void ServiceManager::setRuntimeEntry(ServiceRuntimeInfo entry)
{
    const QUuid id = entry.serviceId;
    entry.processOutput = m_output.output(id).text;
    const auto existing = m_runtime.constFind(id);
    if (existing != m_runtime.cend() && *existing == entry)
        return;
    const QString previous = existing != m_runtime.cend() ? existing->processOutput : QString();
    const bool textChanged =
        !(previous.isEmpty() && entry.processOutput.isEmpty()) && !previous.isSharedWith(entry.processOutput);
    m_runtime.emplace(id, std::move(entry));
    if (textChanged)
        Q_EMIT outputChanged(id);
    Q_EMIT runtimeEntryChanged(id);
    Q_EMIT runtimeChanged();
}

void ServiceManager::clearOutputAndSetEntry(ServiceRuntimeInfo entry)
{
    m_output.reset(entry.serviceId);
    setRuntimeEntry(std::move(entry));
}

void ServiceManager::publishOutput(const QList<QUuid> &serviceIds)
{
    for (const QUuid &id : serviceIds) {
        auto entry = m_runtime.find(id);
        if (entry == m_runtime.end())
            entry = m_runtime.insert(id, ServiceRuntimeInfo::fresh(id));
        entry->processOutput = m_output.output(id).text;
        Q_EMIT outputChanged(id);
        Q_EMIT runtimeEntryChanged(id);
    }
    Q_EMIT runtimeChanged();
}
