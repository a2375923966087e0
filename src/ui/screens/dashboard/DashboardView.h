#pragma once

#include "ui/screens/dashboard/DashboardController.h"
#include "ui/screens/dashboard/SummaryPopover.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

class MetricTile;
class ServiceStatusActionCard;

// The Dashboard: the machine's load as gauges and the services as three
// count cards, each opening a popover of the services it counts.
class DashboardView final : public QWidget {
    Q_OBJECT
public:
    // The managers must outlive the view. `showService` switches the main
    // window to the given service.
    DashboardView(ServiceManager *serviceManager, MonitoringManager *monitoringManager,
                  DashboardController::ShowService showService, QWidget *parent = nullptr);

    DashboardController &controller() const { return *m_controller; }
    MetricTile *tile(const QString &title) const;
    ServiceStatusActionCard *card(ServiceSummaryFilter filter) const { return m_cards.value(filter); }
    SummaryPopover *popover() const { return m_popover; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    // A hidden view only notes that its figures are stale; it catches up when shown.
    void refreshMetrics();
    void refreshCounts();
    void refreshSummary();
    void showMetrics();
    void showCounts();

    DashboardController *m_controller;
    MetricTile *m_cpu = nullptr;
    MetricTile *m_memory = nullptr;
    MetricTile *m_gpu = nullptr;
    QMap<ServiceSummaryFilter, ServiceStatusActionCard *> m_cards;
    QPointer<SummaryPopover> m_popover;
    bool m_metricsStale = false;
    bool m_countsStale = false;
};
