#pragma once

#include "execution/CommandThreatApproval.h"
#include "execution/CommandThreatAssessment.h"
#include "execution/ProcessSnapshot.h"
#include "execution/ProcessSnapshotReconciliation.h"
#include "execution/RunningProcessHandle.h"
#include "execution/ServiceCatalog.h"
#include "execution/ServiceLaunchPreparation.h"
#include "execution/ServiceOutputPublisher.h"
#include "execution/ServiceProcessTermination.h"
#include "execution/ServiceRunBookkeeping.h"
#include "execution/SettingsBridge.h"
#include "execution/SudoHelper.h"
#include "platform/ProcFileSystem.h"
#include "platform/ProcessIdentity.h"
#include "platform/SensitiveBytes.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/CommandThreatFinding.h"
#include "records/ManagedService.h"
#include "records/ServiceRuntimeInfo.h"

#include <QCoroTask>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <chrono>
#include <memory>
#include <optional>

class EnvironmentProfilesManager;
class ProtectedProfilesLockManager;
class ServiceRepository;
class ServiceRunHistoryManager;
class SudoPasswordResponder;
class TerminalFolderCleanup;
class TerminalLauncher;

// The main-thread owner of the services, of their runtime table and of the
// children launched for them; it runs the starts, stops and reconciliations
// over its parts (catalog, launch preparation, run bookkeeping, output
// publication and the stop sequences). Every start, stop, restart, save and delete goes
// through it; every failure is a ServiceManagerError, or the error of the
// protected-data, profile or storage layer it came from.
//
// Children run in sessions of their own, and every stop signals every process
// of the child's session, so nothing a service started outlives its stop
// unless it left the session. A forced stop terminates (SIGTERM) and kills
// what is left after the wait; waits end as soon as the processes are gone.
// A stop books its run once the child itself has gone; the rest of its
// session is ended in the background, and the quit waits for that too.
// A child's liveness comes from its pidfd; a process known only by its id
// counts as alive only while its start time is the one recorded for it.
//
// A child's output is handed over in batches by its handle and published by
// the output publisher at most every `outputPublishInterval`, so a child that
// writes megabytes a second does not flood the screens. Until then
// `runtime()` and `liveOutput()` may lag behind `currentOutput()` by that
// much. Each publication that changes a service's output emits
// `outputChanged`, then `runtimeEntryChanged` for the entry that shares the
// published text.
class ServiceManager final : public QObject {
    Q_OBJECT

public:
    using SettingsProvider = SettingsBridge::Provider;

    static constexpr std::chrono::milliseconds interruptGracePeriod = ServiceProcessTermination::interruptGracePeriod;
    static constexpr std::chrono::milliseconds exitWaitTimeout = ServiceProcessTermination::exitWaitTimeout;
    // How long processes that outlived their stop get to vanish after SIGKILL.
    static constexpr std::chrono::milliseconds killWaitTimeout = ServiceProcessTermination::killWaitTimeout;
    static constexpr std::chrono::milliseconds outputPublishInterval = ServiceOutputPublisher::publishInterval;
    // The longest the quit waits for run-history writes to reach the disk.
    static constexpr std::chrono::milliseconds terminationDrainTimeout {4000};
    static constexpr qsizetype runtimeOutputCutAbove = ServiceOutputPublisher::outputCutAbove;
    static constexpr qsizetype runtimeOutputKeep = ServiceOutputPublisher::outputKeep;

    // The stores and managers must outlive this manager. Without a terminal
    // launcher the desktop's terminal emulator is used; without a folder
    // clean-up, the application's shared one.
    ServiceManager(ServiceRepository &repository, EnvironmentProfilesManager &environmentProfilesManager,
                   ServiceRunHistoryManager &runHistoryManager, ProtectedProfilesLockManager &lockManager,
                   SettingsProvider settingsProvider, std::shared_ptr<TerminalLauncher> terminalLauncher = nullptr,
                   TerminalFolderCleanup *terminalFolderCleanup = nullptr, QObject *parent = nullptr);
    ~ServiceManager() override;

    // Ordered by name, localized and case-insensitive.
    const QList<ManagedService> &services() const { return m_catalog.services(); }
    const QHash<QUuid, ServiceRuntimeInfo> &runtime() const { return m_runtime; }
    const QSet<QUuid> &legacyEncryptedServiceIDs() const { return m_catalog.legacyEncryptedServiceIDs(); }

    // The bookkeeping per service id: the handle of the child launched last,
    // the process taken as the service's own, and the launch generation.
    const QHash<QUuid, std::shared_ptr<RunningProcessHandle>> &launchedHandles() const { return m_launchedHandles; }
    QHash<QUuid, qint32> ownedPIDs() const;
    const QHash<QUuid, quint64> &launchGeneration() const { return m_launchGeneration; }

    // Services, storage and protected access.
    QCoro::Task<> loadServices();
    QCoro::Task<> migrateLegacyEncryptedServices();
    QCoro::Task<ManagedService> migrateLegacyEncryptedService(QUuid serviceId, ProtectedUnlockReason reason);
    QCoro::Task<ManagedService> ensureProtectedAccess(QUuid serviceId, ProtectedUnlockReason reason);
    std::optional<ManagedService> service(const QUuid &id) const;
    bool usesProtectedProfile(const ManagedService &service) const;
    QSet<qint32> trackedProcessIDs() const;
    QCoro::Task<> saveService(ManagedService service);
    void refreshRuntimeState(const QUuid &serviceId);
    void clearRuntimeOutput(const QUuid &serviceId);

    // Launch preparation, start and restart.
    CommandThreatAssessment prepareLaunch(const QUuid &serviceId, const std::optional<CommandThreatApproval> &approval);
    // While one start of a service is in progress, another fails with alreadyRunning.
    QCoro::Task<> start(QUuid serviceId, SharedSensitiveBytes sudoPassword = nullptr,
                        std::optional<CommandThreatApproval> approval = std::nullopt);
    QCoro::Task<> restart(QUuid serviceId, SharedSensitiveBytes sudoPassword = nullptr,
                          std::optional<CommandThreatApproval> approval = std::nullopt);

    // Stopping and deleting.
    QCoro::Task<> stop(QUuid serviceId, bool forced);
    QCoro::Task<> stopAll(bool forced);
    QCoro::Task<> waitForExit(qint32 pid, std::chrono::milliseconds timeout);
    // A stop books its run once the service's own process has gone; what that
    // process started is ended afterwards. Waits until every stop so far has
    // ended all it reached (or given up on it).
    QCoro::Task<> waitForStopSequences();
    // Everything kept of the service's output, also what is not published yet.
    QString currentOutput(const QUuid &serviceId) const;
    // The published output; the runtime entry's processOutput shares its text.
    const ServiceOutputPublisher::Output &liveOutput(const QUuid &serviceId) const
    {
        return m_output.output(serviceId);
    }
    QCoro::Task<> deleteService(QUuid id);
    // The quit: force-stops every running service, removes terminal script
    // folders still waiting for their clean-up, and waits for the run history
    // to reach the disk while its writes progress (giving up after
    // `terminationDrainTimeout` without one finishing), logging the runs a
    // failed write left out.
    QCoro::Task<> prepareForTermination();

    quint64 nextLaunchGeneration(const QUuid &serviceId);

    // The sudo that validates a password given for a launch, and how to tell
    // it from a program of the user's own; tests put a stand-in in both places.
    void setSudo(const QString &path, WrapperSudo::SetUidCheck isSetUidSudo)
    {
        m_sudoPath = path;
        m_isSetUidSudo = std::move(isSetUidSudo);
    }
    // Where the sudo helper is looked for (SudoHelper::candidates(), which
    // tests replace).
    void setSudoHelperCandidates(QStringList candidates) { m_sudoHelperCandidates = std::move(candidates); }
    // Throws launchFailed with SudoHelper's one line unless the helper that a
    // launch given a sudo password would exec may run; the launch flow asks
    // before it asks for a password, and such a launch checks again.
    void requireSudoHelper() const { SudoHelper::require(m_sudoHelperCandidates); }

    // Brings the runtime table in line with one collection of process
    // snapshots; publishes at most once, and only when an entry changed.
    void applyProcessSnapshots(const QList<ProcessSnapshot> &snapshots);

Q_SIGNALS:
    void servicesChanged();
    void legacyEncryptedServiceIDsChanged();
    // After every change of the runtime table; a change of one entry also
    // names it through runtimeEntryChanged.
    void runtimeChanged();
    void runtimeEntryChanged(const QUuid &serviceId);
    // The service's live output changed (a new generation of liveOutput);
    // emitted just before the runtimeEntryChanged of the entry that shows it
    // (or of its removal).
    void outputChanged(const QUuid &serviceId);

private:
    friend class ServiceManagerTestAccess;

    struct PendingExit {
        std::shared_ptr<RunningProcessHandle> handle;
        QUuid serviceId;
        quint64 generation = 0;
    };

    void addFreshRuntimeEntries();
    // What is known of the service's process now; the recorded process is
    // brought up to date on the way.
    ProcessSnapshotReconciliation::Observation observeProcess(const QUuid &serviceId);

    void launchServiceInTerminal(const ManagedService &service, const QMap<QString, QString> &environment,
                                 const QString &shellPath);
    void launchInApplication(const ManagedService &service, const QMap<QString, QString> &environment,
                             const QString &shellPath, const SharedSensitiveBytes &sudoPassword,
                             const QList<CommandThreatFinding> &findings);
    void handleOutput(const QUuid &serviceId, const QString &chunk, bool earlierOutputSkipped,
                      const std::weak_ptr<RunningProcessHandle> &weakHandle,
                      const std::shared_ptr<SudoPasswordResponder> &responder);
    void deliverExit(const RunningProcessHandle *handle, ProcessExitStatus status);
    void handleExit(const QUuid &serviceId, const std::shared_ptr<RunningProcessHandle> &handle, qint32 exitCode,
                    quint64 generation);
    // Keeps the sequence for the quit to wait on.
    void keepStopSequence(const ServiceProcessTermination::Stopping &stopping);
    void finishStop(const QUuid &serviceId, bool forced, const QString &output);

    std::optional<ProcessIdentity> recordedProcess(const QUuid &serviceId) const;
    void recordOwnedProcess(const QUuid &serviceId, qint32 pid);

    // The runtime table: entries are written whole, their output always the
    // output publisher's text; a reset of the publisher is what clears it.
    ServiceRuntimeInfo runtimeEntryOrFresh(const QUuid &serviceId) const;
    void setRuntimeEntry(ServiceRuntimeInfo entry);
    void clearOutputAndSetEntry(ServiceRuntimeInfo entry);
    void publishOutput(const QList<QUuid> &serviceIds);

    ServiceCatalog m_catalog;
    ServiceLaunchPreparation m_preparation;
    ServiceRunBookkeeping m_bookkeeping;
    QHash<QUuid, ServiceRuntimeInfo> m_runtime;
    ServiceOutputPublisher m_output;
    std::shared_ptr<TerminalLauncher> m_terminalLauncher;
    TerminalFolderCleanup *m_terminalFolderCleanup;
    QString m_sudoPath = SudoWrapper::sudoPath;
    WrapperSudo::SetUidCheck m_isSetUidSudo = WrapperSudo::systemSetUidCheck();
    QStringList m_sudoHelperCandidates = SudoHelper::candidates();
    QHash<QUuid, std::shared_ptr<RunningProcessHandle>> m_launchedHandles;
    QHash<QUuid, ProcessIdentity> m_ownedPIDs;
    QHash<QUuid, quint64> m_launchGeneration;

    // Services with a start between its first step and its launch.
    QSet<QUuid> m_startsInProgress;
    // Services with a stop under way, counted: the stop books their run.
    QHash<QUuid, int> m_stopsInProgress;
    // Stop sequences that may still be ending what a stopped service started.
    QList<QFuture<void>> m_stopSequences;
    // Set once the quit has begun: no child is launched after that.
    bool m_terminating = false;
    // Children whose exit has not reached the main thread yet, by handle.
    QHash<const RunningProcessHandle *, PendingExit> m_pendingExits;

    ProcFileSystem m_procFileSystem = ProcFileSystem::system();
};
