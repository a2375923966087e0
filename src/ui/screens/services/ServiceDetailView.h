#pragma once

#include "execution/ServiceOutputPublisher.h"
#include "records/ManagedService.h"
#include "records/ServiceRuntimeInfo.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLayout;
class ServiceRunHistorySection;
class ServicesController;

// The right-hand column of the Services screen: one service's header, controls,
// metrics, configuration, live output and run history. It performs no service
// operation itself: its buttons emit the signals below, and its host's flows
// report back only through new inputs (runtime entry, lock flags). It reads the
// profile names, the live output and the run history from the screen's
// controller; the live output whenever the controller says it changed.
//
// The view updates in place: a new runtime entry or new output changes only the
// texts and states that differ, so an expanded section, the scroll position, a
// text selection and the keyboard focus survive it. Showing another service
// (another id) starts the view's own state afresh.
class ServiceDetailView : public QWidget {
    Q_OBJECT

public:
    // The controller must outlive the view.
    explicit ServiceDetailView(ServicesController &controller, QWidget *parent = nullptr);
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

    const ManagedService &service() const { return m_service; }
    const ServiceRuntimeInfo &runtime() const { return m_runtime; }
    bool isLocked() const { return m_isLocked; }
    bool isLaunchLocked() const { return m_isLaunchLocked; }
    bool isEffectivelyProtected() const { return m_isEffectivelyProtected; }
    bool isConfigurationExpanded() const { return m_isConfigurationExpanded; }
    ServiceRunHistorySection *runHistorySection() const;

Q_SIGNALS:
    // The buttons, for the shown service; the host runs the flows and reports
    // failures itself.
    void unlockRequested(); // authenticate: migrate the service and unlock its profile
    void startRequested();
    void stopRequested();
    void restartRequested();
    void forceKillRequested(); // asks for the force-kill confirmation
    void editRequested();

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
    // Brings the console to the service's published output, unless it shows
    // that generation already.
    void followLiveOutput();
    void refreshLayoutChoice();
    void toggleConfiguration();
    void copyLiveOutput();

    ServicesController &m_controller;
    ManagedService m_service;
    ServiceRuntimeInfo m_runtime;
    bool m_isLocked = false;
    bool m_isLaunchLocked = false;
    bool m_isEffectivelyProtected = false;
    bool m_isConfigurationExpanded = false;
    bool m_hasService = false;
    // What the console shows of the service's live output.
    ServiceOutputPublisher::Mark m_shownOutput;
    std::unique_ptr<Widgets> m_widgets;
};
