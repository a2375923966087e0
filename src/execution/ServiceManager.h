#pragma once

#include "execution/CommandThreatApproval.h"
#include "execution/CommandThreatAssessment.h"
#include "execution/ProcessSnapshot.h"
#include "execution/RunningProcessHandle.h"
#include "execution/SettingsBridge.h"
#include "platform/ProcFileSystem.h"
#include "platform/ProcessIdentity.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/CommandThreatFinding.h"
#include "records/ManagedService.h"
#include "records/OutputTextBuffer.h"
#include "records/ServiceRuntimeInfo.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
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
struct LoadedServices;

// The main-thread owner of the services, of their runtime table and of the
// children launched for them. Every start, stop, restart, save and delete goes
// through it; every failure is a ServiceManagerError, or the error of the
// protected-data, profile or storage layer it came from.
//
// Children run in sessions of their own, and every stop signals every process
// of the child's session, so nothing a service started outlives its stop
// unless it left the session. A forced stop terminates (SIGTERM) and kills
// what is left after the wait; waits end as soon as the processes are gone.
// A child's liveness comes from its pidfd; a process known only by its id
// counts as alive only while its start time is the one recorded for it.
//
// A child's output is handed over in batches by its handle; the runtime entry
// that shows it is republished at most every `outputPublishInterval`, so a
// child that writes megabytes a second does not flood the screens. Until then
// `runtime()` may lag behind `currentOutput()` by that much. Every publication
// that changes an entry's output is preceded by `outputAppended`, which tells
// how to bring the previously published text up to date, so a console can
// follow without comparing the whole text each time.
class ServiceManager final : public QObject {
    Q_OBJECT

public:
    using SettingsProvider = SettingsBridge::Provider;

    static constexpr std::chrono::milliseconds interruptGracePeriod {1500};
    static constexpr std::chrono::milliseconds exitWaitTimeout {5000};
    // How long processes that outlived their stop get to vanish after SIGKILL.
    static constexpr std::chrono::milliseconds killWaitTimeout {1000};
    static constexpr std::chrono::milliseconds outputPublishInterval {50};
    // The longest the quit waits for run-history writes to reach the disk.
    static constexpr std::chrono::milliseconds terminationDrainTimeout {4000};
    static constexpr qsizetype runtimeOutputCutAbove = 200000;
    static constexpr qsizetype runtimeOutputKeep = 150000;

    // The stores and managers must outlive this manager. Without a terminal
    // launcher the desktop's terminal emulator is used; without a folder
    // clean-up, the application's shared one.
    ServiceManager(ServiceRepository &repository, EnvironmentProfilesManager &environmentProfilesManager,
                   ServiceRunHistoryManager &runHistoryManager, ProtectedProfilesLockManager &lockManager,
                   SettingsProvider settingsProvider, std::shared_ptr<TerminalLauncher> terminalLauncher = nullptr,
                   TerminalFolderCleanup *terminalFolderCleanup = nullptr, QObject *parent = nullptr);
    ~ServiceManager() override;

    // Ordered by name, localized and case-insensitive.
    const QList<ManagedService> &services() const { return m_services; }
    const QHash<QUuid, ServiceRuntimeInfo> &runtime() const { return m_runtime; }
    const QSet<QUuid> &legacyEncryptedServiceIDs() const { return m_legacyEncryptedServiceIDs; }

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
    QCoro::Task<> start(QUuid serviceId, std::optional<QString> sudoPassword = std::nullopt,
                        std::optional<CommandThreatApproval> approval = std::nullopt);
    QCoro::Task<> restart(QUuid serviceId, std::optional<QString> sudoPassword = std::nullopt,
                          std::optional<CommandThreatApproval> approval = std::nullopt);

    // Stopping and deleting.
    QCoro::Task<> stop(QUuid serviceId, bool forced);
    QCoro::Task<> stopAll(bool forced);
    QCoro::Task<> waitForExit(qint32 pid, std::chrono::milliseconds timeout);
    QString currentOutput(const QUuid &serviceId) const;
    QCoro::Task<> deleteService(QUuid id);
    // The quit: force-stops every running service, removes terminal script
    // folders still waiting for their clean-up, and waits (at most
    // `terminationDrainTimeout`) for the run history to reach the disk.
    QCoro::Task<> prepareForTermination();

    quint64 nextLaunchGeneration(const QUuid &serviceId);

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
    // What changed in the entry's published `processOutput` since its previous
    // publication: remove `charactersDroppedFromFront` UTF-16 units from the
    // front of the previous text, then append `text`. Emitted just before the
    // entry's runtimeEntryChanged (or its removal), and only on a change.
    void outputAppended(const QUuid &serviceId, const QString &text, qsizetype charactersDroppedFromFront);

private:
    friend class ServiceManagerTestAccess;

    struct PendingExit {
        std::shared_ptr<RunningProcessHandle> handle;
        QUuid serviceId;
        quint64 generation = 0;
    };

    ProtectedUnlockReason launchReason(const ManagedService &service) const;
    void publishServices(LoadedServices loaded);
    // Publishes a fresh load of services.json; false when the manager went away meanwhile.
    QCoro::Task<bool> reloadServices();
    void addFreshRuntimeEntries();
    void recordBlockedLaunch(const ManagedService &service, const CommandThreatAssessment &assessment);

    void launchServiceInTerminal(const ManagedService &service, const QMap<QString, QString> &environment,
                                 const QString &shellPath);
    void launchInApplication(const ManagedService &service, const QMap<QString, QString> &environment,
                             const QString &shellPath, const std::optional<QString> &sudoPassword,
                             const QList<CommandThreatFinding> &findings);
    void beginRun(const ManagedService &service, qint32 pid, const QList<CommandThreatFinding> &findings);
    void handleOutput(const QUuid &serviceId, const QString &chunk, bool earlierOutputSkipped,
                      const std::weak_ptr<RunningProcessHandle> &weakHandle,
                      const std::shared_ptr<SudoPasswordResponder> &responder);
    void deliverExit(const RunningProcessHandle *handle, ProcessExitStatus status);
    void handleExit(const QUuid &serviceId, const std::shared_ptr<RunningProcessHandle> &handle, qint32 exitCode,
                    quint64 generation);

    QCoro::Task<> endOwnChild(std::shared_ptr<RunningProcessHandle> handle, bool forced);
    QCoro::Task<> endRecordedProcess(ProcessIdentity process, bool forced);
    void finishStop(const QUuid &serviceId, bool forced, const QString &output);

    std::optional<ProcessIdentity> recordedProcess(const QUuid &serviceId) const;
    void recordOwnedProcess(const QUuid &serviceId, qint32 pid);

    // The runtime table: entries are read with their latest output and
    // written whole; output arrives through appendRuntimeOutput.
    ServiceRuntimeInfo runtimeEntryOrFresh(const QUuid &serviceId);
    void setRuntimeEntry(ServiceRuntimeInfo entry);
    void appendRuntimeOutput(const QUuid &serviceId, const QString &chunk, bool replace);
    void syncLiveOutput(const QUuid &serviceId);
    void syncAllLiveOutput();
    void publishLiveOutput();
    // Emits outputAppended for the entry's output as it is now; called right
    // before every runtimeEntryChanged.
    void announceOutput(const QUuid &serviceId);
    void announceEntryChanged(const QUuid &serviceId);

    QList<ManagedService> m_services;
    QHash<QUuid, ServiceRuntimeInfo> m_runtime;
    QSet<QUuid> m_legacyEncryptedServiceIDs;
    ServiceRepository &m_repository;
    EnvironmentProfilesManager &m_environmentProfilesManager;
    ServiceRunHistoryManager &m_runHistoryManager;
    SettingsProvider m_settingsProvider;
    ProtectedProfilesLockManager &m_lockManager;
    std::shared_ptr<TerminalLauncher> m_terminalLauncher;
    TerminalFolderCleanup *m_terminalFolderCleanup;
    QHash<QUuid, std::shared_ptr<RunningProcessHandle>> m_launchedHandles;
    QHash<QUuid, ProcessIdentity> m_ownedPIDs;
    QHash<QUuid, quint64> m_launchGeneration;

    // Services with a start between its first step and its launch.
    QSet<QUuid> m_startsInProgress;
    // Services with a stop under way, counted: the stop books their run.
    QHash<QUuid, int> m_stopsInProgress;
    // Set once the quit has begun: no child is launched after that.
    bool m_terminating = false;
    // Children whose exit has not reached the main thread yet, by handle.
    QHash<const RunningProcessHandle *, PendingExit> m_pendingExits;

    // Output of running children as it arrives, with what was appended to it
    // (or whether it started over) since it was last copied into `m_runtime`.
    struct LiveOutput {
        OutputTextBuffer buffer {runtimeOutputCutAbove, runtimeOutputKeep};
        qsizetype appendedUnits = 0;
        bool restarted = false;
    };
    // What the last outputAppended left a console with, and what happened to
    // the entry's output since: appends (with cuts at the front) or a restart.
    struct OutputAnnouncement {
        qsizetype announcedUnits = 0;
        qsizetype appendedUnits = 0;
        bool restarted = false;
    };
    // `stale` ids have text not yet in `m_runtime`, `unannounced` ones text in
    // it not yet signalled.
    QHash<QUuid, LiveOutput> m_liveOutput;
    QHash<QUuid, OutputAnnouncement> m_outputAnnouncements;
    QSet<QUuid> m_liveOutputStale;
    QSet<QUuid> m_liveOutputUnannounced;
    QTimer m_liveOutputTimer;

    ProcFileSystem m_procFileSystem = ProcFileSystem::system();
};
