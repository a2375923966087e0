#pragma once

#include "records/ManagedService.h"
#include "records/ServiceRuntimeInfo.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class EnvironmentProfilesManager;
class ServiceManager;
class QLayout;
class ServiceRunHistoryManager;
class ServiceRunHistorySection;

// The right-hand column of the Services screen: one service's header, controls,
// metrics, configuration, live output and run history. It performs no service
// operation itself; every action goes to a callback of its host, whose flows
// report back only through new inputs (runtime entry, lock flags).
//
// The view updates in place: a new runtime entry or new output changes only the
// texts and states that differ, so an expanded section, the scroll position, a
// text selection and the keyboard focus survive it. Showing another service
// (another id) starts the view's own state afresh.
class ServiceDetailView : public QWidget {
    Q_OBJECT

public:
    // The host's flows. Each is called straight from its button; the host runs
    // its coroutine and reports failures itself.
    struct Callbacks {
        std::function<void()> onUnlock; // authenticate: migrate the service and unlock its profile
        std::function<void()> onStart;
        std::function<void()> onStop;
        std::function<void()> onRestart;
        std::function<void()> onKill; // asks for the force-kill confirmation
        std::function<void()> onEdit; // opens the service editor
    };

    // Both managers must outlive the view.
    ServiceDetailView(EnvironmentProfilesManager *environmentProfilesManager,
                      ServiceRunHistoryManager *runHistoryManager, QWidget *parent = nullptr);
    ~ServiceDetailView() override;

    // Another id resets the configuration, the run history section and the scroll
    // position; the same id refreshes the shown values in place.
    void setService(const ManagedService &service);
    // The host stopped showing the service: whichever service comes next,
    // the same one included, starts from the initial view state.
    void forgetService();
    // The service's live state; the host passes ServiceRuntimeInfo::fresh when the
    // service manager has no entry.
    void setRuntime(const ServiceRuntimeInfo &runtime);
    // The service is still stored in the older encrypted form.
    void setIsLocked(bool isLocked);
    // The service's environment profile is locked: only the header and the locked card show.
    void setIsLaunchLocked(bool isLaunchLocked);
    // The service's environment profile exists and is protected.
    void setIsEffectivelyProtected(bool isEffectivelyProtected);
    void setFlags(bool isLocked, bool isLaunchLocked, bool isEffectivelyProtected);
    void setCallbacks(Callbacks callbacks);
    // Applies the manager's output additions for the shown service as they are
    // published, so the live output appends them instead of comparing the whole
    // text on the next runtime entry. Optional; the manager must outlive the view.
    void followOutputOf(ServiceManager *serviceManager);

    const ManagedService &service() const { return m_service; }
    const ServiceRuntimeInfo &runtime() const { return m_runtime; }
    bool isLocked() const { return m_isLocked; }
    bool isLaunchLocked() const { return m_isLaunchLocked; }
    bool isEffectivelyProtected() const { return m_isEffectivelyProtected; }
    bool isConfigurationExpanded() const { return m_isConfigurationExpanded; }
    ServiceRunHistorySection *runHistorySection() const;

private:
    struct Widgets;

    void buildLayouts();
    void buildHeader();
    QLayout *buildControlRow();
    QLayout *buildConfiguration();
    QWidget *buildMetricGrid();
    void buildLiveOutput();
    void buildLockedCard();
    void resetViewState();
    void refreshAll();
    void refreshHeader();
    void refreshControls();
    void refreshMetrics();
    void refreshConfiguration(bool animated = false);
    void refreshLiveOutput();
    void refreshLayoutChoice();
    void toggleConfiguration();
    void copyLiveOutput();
    void call(const std::function<void()> &callback) const;

    QPointer<EnvironmentProfilesManager> m_environmentProfilesManager;
    QPointer<ServiceRunHistoryManager> m_runHistoryManager;
    ManagedService m_service;
    ServiceRuntimeInfo m_runtime;
    bool m_isLocked = false;
    bool m_isLaunchLocked = false;
    bool m_isEffectivelyProtected = false;
    bool m_isConfigurationExpanded = false;
    bool m_hasService = false;
    Callbacks m_callbacks;
    QMetaObject::Connection m_outputConnection;
    std::unique_ptr<Widgets> m_widgets;
};
