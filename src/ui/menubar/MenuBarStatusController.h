#pragma once

#include "platform/SensitiveBytes.h"
#include "records/ManagedService.h"
#include "records/ServiceRuntimeInfo.h"
#include "records/SystemMetrics.h"
#include "ui/launch/CommandThreatReviewRequest.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <optional>

class EnvironmentProfilesManager;
class MonitoringManager;
class ProtectedProfilesLockManager;
class ServiceManager;

// The state and flows of the tray panel's content: which section it shows
// (the list, a threat review, a sudo prompt or the quit question), the values
// its header and rows derive from the managers, and the start/stop road of a
// row's toggle. One lives per opening of the panel; a flow it started runs to
// its end after the panel closed, but writes nothing back.
class MenuBarStatusController : public QObject {
    Q_OBJECT

public:
    enum class Mode { services, sudoPrompt, threatReview, quitConfirmation };

    static constexpr int maximumListedServices = 7;

    MenuBarStatusController(ServiceManager *serviceManager, EnvironmentProfilesManager *profilesManager,
                            ProtectedProfilesLockManager *lockManager, MonitoringManager *monitoringManager,
                            QObject *parent = nullptr);

    // Whether protected profiles are unlocked now; the lock button locks them all.
    bool isUnlocked() const;
    void lockProtectedProfiles();
    // What the panel shows besides the rows, as the managers publish it.
    bool hasServices() const;
    SystemMetrics systemMetrics() const;
    std::optional<QString> keychainAccessGuidance() const;

    void setApplicationReady(bool ready);
    bool isApplicationReady() const { return m_applicationReady; }

    Mode mode() const;
    bool isConfirmingQuit() const { return m_isConfirmingQuit; }
    const std::optional<SudoPasswordRequest> &sudoRequest() const { return m_sudoRequest; }
    const std::optional<QString> &sudoErrorMessage() const { return m_sudoErrorMessage; }
    const std::optional<CommandThreatReviewRequest> &commandThreatRequest() const { return m_commandThreatRequest; }

    // Derived from the managers each time they are asked.
    int runningServiceCount() const;
    // Running services first, then by name; at most maximumListedServices.
    QList<ManagedService> menuServices() const;
    int hiddenServiceCount() const;
    bool hasProtectedProfiles() const;
    // "No services", or "1 service running · 3 services total".
    QString statusText() const;
    // The service's runtime entry, or a stopped placeholder.
    ServiceRuntimeInfo runtimeOf(const QUuid &serviceId) const;
    // "arrow.triangle.2.circlepath", "lock.fill", "lock.open.fill" or empty.
    QString markerSymbol(const ManagedService &service) const;

    // The footer and the quit question: what leaves the panel is asked of its
    // owner through the …Requested signals.
    void openApp();
    void openServices();
    void openService(const QUuid &serviceId);
    void beginQuitConfirmation();
    void cancelQuitConfirmation();
    void quit();

    // The prompts.
    void cancelReview();
    void cancelSudoPrompt();
    void runAnywayAfterReview(const CommandThreatReviewRequest &request);
    void retryKeychainAccess();

    // The launch road. Each returns at once to a caller that does not await it.
    QCoro::Task<> toggleService(ManagedService service);
    QCoro::Task<> launchAfterReview(CommandThreatReviewRequest request);
    // The password is handed on and kept nowhere here.
    QCoro::Task<> submitSudoPassword(SharedSensitiveBytes password, SudoPasswordRequest request);

Q_SIGNALS:
    // One of the four prompt fields changed: the mode section is rebuilt.
    void promptStateChanged();
    // The services, their runtime or their markers changed: rows update.
    void servicesStateChanged();
    void systemMetricsChanged();
    void keychainAccessGuidanceChanged();
    void applicationReadyChanged(bool ready);
    void isUnlockedChanged(bool isUnlocked);
    // After the change is shown (one turn of the event loop later): the panel
    // measures its content again.
    void contentSizeMayHaveChanged();
    void openAppRequested();
    void openServicesRequested();
    void openServiceRequested(const QUuid &serviceId);
    void quitRequested();

private:
    friend class MenuBarLaunchFlows;

    void setConfirmingQuit(bool confirming);
    void setSudoRequest(std::optional<SudoPasswordRequest> request);
    void setSudoErrorMessage(std::optional<QString> message);
    void setCommandThreatRequest(std::optional<CommandThreatReviewRequest> request);
    void onServicesOrRuntimeChanged();
    void scheduleContentSizeReport();
    // The ids in the list and which of them run, plus the hidden count: what
    // decides the list's height.
    QString listShapeSignature() const;

    QPointer<ServiceManager> m_serviceManager;
    QPointer<EnvironmentProfilesManager> m_profilesManager;
    QPointer<ProtectedProfilesLockManager> m_lockManager;
    QPointer<MonitoringManager> m_monitoringManager;

    bool m_applicationReady = false;
    bool m_isConfirmingQuit = false;
    std::optional<SudoPasswordRequest> m_sudoRequest;
    std::optional<QString> m_sudoErrorMessage;
    std::optional<CommandThreatReviewRequest> m_commandThreatRequest;

    int m_lastRunningCount = 0;
    QString m_lastListShape;
};
