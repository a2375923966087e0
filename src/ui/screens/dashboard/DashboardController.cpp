#include "ui/screens/dashboard/DashboardController.h"

#include "execution/MonitoringManager.h"
#include "execution/ServiceManager.h"
#include "ui/components/DisplayFormatting.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <cmath>

DashboardController::DashboardController(ServiceManager *serviceManager, MonitoringManager *monitoringManager,
                                         ShowService showService, QObject *parent)
    : QObject(parent),
      m_serviceManager(serviceManager),
      m_showService(std::move(showService))
{
    if (serviceManager) {
        m_services = serviceManager->services();
        m_runtime = serviceManager->runtime();
        const auto follow = [this] { presentServices(m_serviceManager->services(), m_serviceManager->runtime()); };
        connect(serviceManager, &ServiceManager::servicesChanged, this, follow);
        connect(serviceManager, &ServiceManager::runtimeChanged, this, follow);
    }
    if (monitoringManager) {
        m_metrics = monitoringManager->systemMetrics();
        connect(monitoringManager, &MonitoringManager::systemMetricsChanged, this,
                &DashboardController::presentSystemMetrics);
    }
}

void DashboardController::presentServices(QList<ManagedService> services, Runtime runtime)
{
    // No comparison here: the runtime carries live output, and the view
    // touches only the figures that changed.
    m_services = std::move(services);
    m_runtime = std::move(runtime);
    Q_EMIT servicesChanged();
}

void DashboardController::presentSystemMetrics(const SystemMetrics &metrics)
{
    if (metrics == m_metrics)
        return;
    m_metrics = metrics;
    Q_EMIT systemMetricsChanged();
}

int DashboardController::runningServiceCount(const Runtime &runtime)
{
    return int(std::count_if(runtime.cbegin(), runtime.cend(), [](const ServiceRuntimeInfo &info) {
        return info.state == ServiceLifecycleState::running;
    }));
}

int DashboardController::stoppedServiceCount(const QList<ManagedService> &services, const Runtime &runtime)
{
    return std::max(0, int(services.size()) - runningServiceCount(runtime));
}

int DashboardController::count(ServiceSummaryFilter filter) const
{
    switch (filter) {
    case ServiceSummaryFilter::all:
        return int(m_services.size());
    case ServiceSummaryFilter::running:
        return runningServiceCount(m_runtime);
    case ServiceSummaryFilter::stopped:
        return stoppedServiceCount(m_services, m_runtime);
    }
    return 0;
}

QList<ManagedService> DashboardController::filteredServices(ServiceSummaryFilter filter,
                                                            const QList<ManagedService> &services,
                                                            const Runtime &runtime)
{
    QList<ManagedService> sorted = services;
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&collator](const auto &a, const auto &b) { return collator.compare(a.name, b.name) < 0; });
    if (filter == ServiceSummaryFilter::all)
        return sorted;
    const bool wantRunning = filter == ServiceSummaryFilter::running;
    sorted.removeIf([&](const ManagedService &service) {
        const auto entry = runtime.constFind(service.id);
        const bool running = entry != runtime.cend() && entry->state == ServiceLifecycleState::running;
        return running != wantRunning;
    });
    return sorted;
}

QList<ServiceSummaryRow> DashboardController::makeSummaryRows(ServiceSummaryFilter filter,
                                                              const QList<ManagedService> &services,
                                                              const Runtime &runtime)
{
    QList<ServiceSummaryRow> rows;
    for (const ManagedService &service : filteredServices(filter, services, runtime)) {
        const ServiceRuntimeInfo entry = runtime.value(service.id, ServiceRuntimeInfo::fresh(service.id));
        rows.append({service.id, service.name,
                     service.command.isEmpty() ? QStringLiteral("No shell command") : service.command, entry.state,
                     entry.pid});
    }
    return rows;
}

QString DashboardController::cardTitle(ServiceSummaryFilter filter)
{
    switch (filter) {
    case ServiceSummaryFilter::all:
        return QStringLiteral("All");
    case ServiceSummaryFilter::running:
        return QStringLiteral("Running");
    case ServiceSummaryFilter::stopped:
        return QStringLiteral("Stopped");
    }
    return {};
}

QString DashboardController::popoverTitle(ServiceSummaryFilter filter)
{
    return filter == ServiceSummaryFilter::all ? QStringLiteral("All Services") : cardTitle(filter);
}

QString DashboardController::emptyText(ServiceSummaryFilter filter)
{
    switch (filter) {
    case ServiceSummaryFilter::all:
        return QStringLiteral("No services yet.");
    case ServiceSummaryFilter::running:
        return QStringLiteral("No services are running.");
    case ServiceSummaryFilter::stopped:
        return QStringLiteral("No stopped services.");
    }
    return {};
}

QString DashboardController::badgeText(ServiceLifecycleState state)
{
    switch (state) {
    case ServiceLifecycleState::running:
        return QStringLiteral("Running");
    case ServiceLifecycleState::stopped:
        return QStringLiteral("Stopped");
    case ServiceLifecycleState::notResponding:
        return QStringLiteral("Not Responding");
    }
    return {};
}

QString DashboardController::percentText(double percent)
{
    return QString::asprintf("%.1f%%", percent);
}

double DashboardController::memoryPercent(const SystemMetrics &metrics)
{
    if (metrics.memoryTotalBytes == 0)
        return 0;
    return double(metrics.memoryUsedBytes) / double(metrics.memoryTotalBytes) * 100.0;
}

QString DashboardController::memorySubtitle(const SystemMetrics &metrics)
{
    return formatMemoryBytes(metrics.memoryUsedBytes) + QStringLiteral(" of ")
           + formatMemoryBytes(metrics.memoryTotalBytes);
}

double DashboardController::gaugeValue(double percent)
{
    if (!std::isfinite(percent))
        return 0;
    return std::clamp(percent / 100.0, 0.0, 1.0);
}

void DashboardController::openSummary(ServiceSummaryFilter filter)
{
    m_summaryRows = makeSummaryRows(filter, m_services, m_runtime);
    m_summaryListHeight = double(m_summaryRows.size()) * summaryRowEstimate;
    m_openSummary = filter;
    Q_EMIT summaryChanged();
}

void DashboardController::closeSummary()
{
    if (!m_openSummary && m_summaryRows.isEmpty() && m_summaryListHeight == 0)
        return;
    m_openSummary.reset();
    m_summaryRows.clear();
    m_summaryListHeight = 0;
    Q_EMIT summaryChanged();
}

void DashboardController::toggleSummary(ServiceSummaryFilter filter)
{
    if (m_openSummary == filter)
        closeSummary();
    else
        openSummary(filter);
}

void DashboardController::setSummaryPresented(ServiceSummaryFilter filter, bool presented)
{
    if (presented)
        openSummary(filter);
    else if (m_openSummary == filter)
        closeSummary();
}

void DashboardController::reportSummaryListHeight(double height)
{
    if (std::abs(height - m_summaryListHeight) <= 0.5)
        return;
    m_summaryListHeight = height;
    Q_EMIT summaryListHeightChanged();
}

void DashboardController::openServiceFromSummary(const ServiceSummaryRow &row)
{
    closeSummary();
    if (m_showService)
        m_showService(row.id);
}
