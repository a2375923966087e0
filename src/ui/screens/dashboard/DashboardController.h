#pragma once

#include "records/ManagedService.h"
#include "records/ServiceRuntimeInfo.h"
#include "records/SystemMetrics.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>

class MonitoringManager;
class ServiceManager;

enum class ServiceSummaryFilter { all, running, stopped };

// One row of a count card's popover, taken when the popover opened.
struct ServiceSummaryRow {
    QUuid id;
    QString name;
    QString detail;
    ServiceLifecycleState state = ServiceLifecycleState::stopped;
    std::optional<qint32> pid;

    friend bool operator==(const ServiceSummaryRow &, const ServiceSummaryRow &) = default;
};

// The Dashboard's state: the machine's load, the service counts and the one
// open summary popover with its rows.
class DashboardController final : public QObject {
    Q_OBJECT
public:
    using Runtime = QHash<QUuid, ServiceRuntimeInfo>;
    using ShowService = std::function<void(const QUuid &)>;

    static constexpr double summaryRowEstimate = 78;
    static constexpr double summaryListMaximumHeight = 300;

    // Follows the managers when given (they must outlive the controller);
    // without them the data comes through present().
    DashboardController(ServiceManager *serviceManager, MonitoringManager *monitoringManager, ShowService showService,
                        QObject *parent = nullptr);

    const QList<ManagedService> &services() const { return m_services; }
    const Runtime &runtime() const { return m_runtime; }
    const SystemMetrics &systemMetrics() const { return m_metrics; }
    void presentServices(QList<ManagedService> services, Runtime runtime);
    void presentSystemMetrics(const SystemMetrics &metrics);

    static int runningServiceCount(const Runtime &runtime);
    static int stoppedServiceCount(const QList<ManagedService> &services, const Runtime &runtime);
    int count(ServiceSummaryFilter filter) const;
    static QList<ManagedService> filteredServices(ServiceSummaryFilter filter, const QList<ManagedService> &services,
                                                  const Runtime &runtime);
    static QList<ServiceSummaryRow> makeSummaryRows(ServiceSummaryFilter filter, const QList<ManagedService> &services,
                                                    const Runtime &runtime);

    static QString cardTitle(ServiceSummaryFilter filter);
    static QString popoverTitle(ServiceSummaryFilter filter);
    static QString emptyText(ServiceSummaryFilter filter);
    static QString badgeText(ServiceLifecycleState state);
    static QString percentText(double percent);
    static double memoryPercent(const SystemMetrics &metrics);
    static QString memorySubtitle(const SystemMetrics &metrics);
    static double gaugeValue(double percent);

    const std::optional<ServiceSummaryFilter> &openServiceSummary() const { return m_openSummary; }
    const QList<ServiceSummaryRow> &summaryRows() const { return m_summaryRows; }
    double summaryListHeight() const { return m_summaryListHeight; }

    void openSummary(ServiceSummaryFilter filter);
    void closeSummary();
    void toggleSummary(ServiceSummaryFilter filter);
    // The popover of `filter` was shown or dismissed; a dismissal of a
    // popover that is no longer the open one changes nothing.
    void setSummaryPresented(ServiceSummaryFilter filter, bool presented);
    // The list reported its real height.
    void reportSummaryListHeight(double height);
    void openServiceFromSummary(const ServiceSummaryRow &row);

Q_SIGNALS:
    void servicesChanged();
    void systemMetricsChanged();
    void summaryChanged();
    void summaryListHeightChanged();

private:
    ServiceManager *m_serviceManager;
    ShowService m_showService;
    QList<ManagedService> m_services;
    Runtime m_runtime;
    SystemMetrics m_metrics;
    std::optional<ServiceSummaryFilter> m_openSummary;
    QList<ServiceSummaryRow> m_summaryRows;
    double m_summaryListHeight = 0;
};
