#pragma once

#include "execution/CommandThreatApproval.h"
#include "execution/ServiceOutputPublisher.h"
#include "platform/SensitiveBytes.h"
#include "profiles/EnvironmentProfile.h"
#include "records/ManagedService.h"
#include "records/ServiceRunRecord.h"
#include "records/ServiceRuntimeInfo.h"
#include "ui/launch/CommandThreatReviewRequest.h"
#include "ui/screens/services/ScreenErrorMessage.h"
#include "ui/screens/services/ServiceEditorMode.h"
#include "ui/screens/services/ServiceFilter.h"
#include "ui/launch/SudoLaunchAction.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class EnvironmentProfilesManager;
class ProtectedProfilesLockManager;
class SecurityScopedBookmarkStore;
class ServiceManager;
class ServiceRunHistoryManager;
struct ProtectedUnlockReason;

// The Services screen without its widgets: the list's search and filter, the
// selection, the open sheets and alerts, and every flow behind the screen's
// buttons. Each flow is a coroutine that the widgets start and drop; tests
// await them. A flow whose controller was destroyed meanwhile writes nothing.
class ServicesController final : public QObject {
    Q_OBJECT
public:
    // Scores an item's name against the search text; none when it does not match.
    using SearchScore = std::function<std::optional<int>(const QString &search, const QString &name)>;

    // The row's title indicator: a symbol and its tooltip (empty for none).
    struct RowIndicator {
        QString symbol;
        QString tooltip;
    };

    // The managers must outlive the controller. Without a bookmark store the
    // editor's picked paths are not remembered.
    ServicesController(ServiceManager &serviceManager, EnvironmentProfilesManager &profilesManager,
                       ProtectedProfilesLockManager &lockManager, ServiceRunHistoryManager &historyManager,
                       SecurityScopedBookmarkStore *bookmarks = nullptr, QObject *parent = nullptr);

    // Where the editor remembers picked paths; none when they are not remembered.
    SecurityScopedBookmarkStore *bookmarks() const { return m_bookmarks; }

    // What the screen's widgets show, as the managers publish it; each has a
    // signal below that tells when it changed.
    const QList<ManagedService> &services() const;
    const QList<EnvironmentProfile> &profiles() const;
    // The name of the service's environment profile, or none when it has none
    // or the profile is gone.
    std::optional<QString> profileName(const ManagedService &service) const;
    const std::optional<QString> &keychainAccessGuidance() const;
    // Whether protected profiles are unlocked now.
    bool isUnlocked() const;
    // The service's recorded runs, newest first, and the run recorded last.
    QList<ServiceRunRecord> runRecords(const QUuid &serviceId) const;
    std::optional<QUuid> latestAddedRunRecordID() const;

    // The list: the filter's services, ordered by name, or by score while searching.
    static QList<ManagedService> visibleServices(const QList<ManagedService> &services,
                                                 const QHash<QUuid, ServiceRuntimeInfo> &runtime, ServiceFilter filter,
                                                 const QString &searchText, const SearchScore &score);
    QList<ManagedService> visibleServices() const;
    bool hasProtectedProfiles() const;
    // The runtime entry, or a stopped one for a service that never ran.
    ServiceRuntimeInfo runtimeEntry(const QUuid &serviceId) const;
    // The service's published live output (see ServiceManager::liveOutput).
    const ServiceOutputPublisher::Output &liveOutput(const QUuid &serviceId) const;

    const QString &searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    ServiceFilter filter() const { return m_filter; }
    void setFilter(ServiceFilter filter);
    // Drops the search and the filter when another screen asks for a service.
    void resetNavigation();

    const std::optional<QUuid> &selectedServiceID() const { return m_selectedServiceID; }
    // Sets the selection; a new selection asks for authentication when its
    // service needs it.
    void setSelectedServiceID(const std::optional<QUuid> &id);
    std::optional<ManagedService> selectedService() const;
    // The screen asks for authentication on selection only while it is shown;
    // becoming shown asks for the current selection. Active unless a screen
    // says otherwise.
    void setSelectionPromptsActive(bool active);

    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    void dismissError();
    const std::optional<ServiceEditorMode> &editorMode() const { return m_editorMode; }
    const std::optional<ManagedService> &confirmForceKill() const { return m_confirmForceKill; }
    const std::optional<SudoPasswordRequest> &sudoRequest() const { return m_sudoRequest; }
    const std::optional<CommandThreatReviewRequest> &commandThreatRequest() const { return m_commandThreatRequest; }

    // Flags and texts for the detail view and the rows.
    bool isLocked(const ManagedService &service) const;
    bool isLaunchLocked(const ManagedService &service) const;
    bool isEffectivelyProtected(const ManagedService &service) const;
    RowIndicator rowIndicator(const ManagedService &service) const;
    QString rowSubtitle(const ManagedService &service) const;

    // The row select action: a new row is selected; the selected one asks
    // for authentication again.
    void selectService(const ManagedService &service);
    QCoro::Task<> unlockSelectedServiceIfNeeded();

    // The detail view's callbacks.
    QCoro::Task<> unlockService(ManagedService service);
    QCoro::Task<> launchService(ManagedService service, SudoLaunchAction action,
                                std::optional<CommandThreatApproval> approval = std::nullopt);
    QCoro::Task<> stopService(ManagedService service);
    void requestForceKill(const ManagedService &service);
    void editService(const ManagedService &service);

    // The sheets' buttons.
    QCoro::Task<> runAnyway(CommandThreatReviewRequest request);
    void cancelThreatReview();
    QCoro::Task<> submitSudoPassword(SudoPasswordRequest request, SharedSensitiveBytes password);
    QCoro::Task<> launchWithoutPassword(SudoPasswordRequest request);
    void cancelSudoPrompt();
    QCoro::Task<> forceKillService();
    void cancelForceKill();
    // "This will immediately kill <name>. This action requires explicit confirmation."
    QString forceTerminateMessage() const;

    // The editor.
    void openCreateEditor();
    QCoro::Task<> openEditor(ManagedService service);
    void closeEditor();
    // A fresh record for create mode, made when the sheet's content is built.
    static ManagedService newServiceDraft();
    QCoro::Task<> saveEditedService(ManagedService service);
    QCoro::Task<> deleteEditedService(ServiceEditorMode mode);

    // The keyring banner's "Try Again": reloads the profiles.
    QCoro::Task<> retryKeychainAccess();
    // The lock button: locks every protected profile.
    void lockProtectedProfiles();
    // The run history's buttons.
    QCoro::Task<> deleteRunRecord(QUuid recordId);
    QCoro::Task<> clearRunHistory(QUuid serviceId);
    // A recorded run's output, read from the history file when it is no
    // longer held; throws FileStoreError when it cannot be read.
    QCoro::Task<QString> runOutput(QUuid recordId);

Q_SIGNALS:
    void searchTextChanged();
    void filterChanged();
    void selectedServiceIDChanged();
    void errorMessageChanged();
    void editorModeChanged();
    // The answer to saveEditedService: whether the service was saved.
    void saveFinished(bool saved);
    void confirmForceKillChanged();
    void sudoRequestChanged();
    void commandThreatRequestChanged();

    // Relayed from the managers.
    void servicesChanged();
    void runtimeChanged();
    void runtimeEntryChanged(const QUuid &serviceId);
    // A service's live output changed: a new generation of liveOutput.
    void outputChanged(const QUuid &serviceId);
    void profilesChanged();
    // A service's or a profile's lock changed: the lock flags and row indicators may differ.
    void locksChanged();
    void keychainAccessGuidanceChanged();
    void isUnlockedChanged();
    void runRecordsChanged();
    void latestAddedRunRecordIDChanged();

private:
    void relayManagerSignals();
    QCoro::Task<> requestProtectedAccess(ManagedService service, ProtectedUnlockReason reason);
    QCoro::Task<> performLaunch(QUuid serviceId, SudoLaunchAction action, SharedSensitiveBytes password,
                                std::optional<CommandThreatApproval> approval);
    QCoro::Task<> removeService(ManagedService service);
    // Stops the service, showing what went wrong on the screen.
    QCoro::Task<> performStop(QUuid serviceId, bool forced);
    bool needsUnlockOnSelection(const ManagedService &service) const;
    void showFailure(const std::exception_ptr &failure, KeychainErrorText keychainText);
    // showFailure with the given keychain text, for a flow's guarded block.
    std::function<void(const std::exception_ptr &)> failureShower(KeychainErrorText keychainText);
    void setErrorMessage(const std::optional<QString> &message);
    void setEditorMode(const std::optional<ServiceEditorMode> &mode);
    void setConfirmForceKill(const std::optional<ManagedService> &service);
    void setSudoRequest(const std::optional<SudoPasswordRequest> &request);
    void setCommandThreatRequest(const std::optional<CommandThreatReviewRequest> &request);

    ServiceManager &m_serviceManager;
    EnvironmentProfilesManager &m_profilesManager;
    ProtectedProfilesLockManager &m_lockManager;
    ServiceRunHistoryManager &m_historyManager;
    SecurityScopedBookmarkStore *m_bookmarks;

    QString m_searchText;
    ServiceFilter m_filter = ServiceFilter::all;
    std::optional<QUuid> m_selectedServiceID;
    // Raised by every change of the selection, so an unlock asked for an
    // earlier selection does not report into the new one.
    quint64 m_selectionGeneration = 0;
    bool m_selectionPromptsActive = true;
    std::optional<ServiceEditorMode> m_editorMode;
    std::optional<QString> m_errorMessage;
    std::optional<ManagedService> m_confirmForceKill;
    std::optional<SudoPasswordRequest> m_sudoRequest;
    std::optional<CommandThreatReviewRequest> m_commandThreatRequest;
};
