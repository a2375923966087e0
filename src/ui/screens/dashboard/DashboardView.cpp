#include "ui/screens/dashboard/DashboardView.h"

#include "ui/components/SectionHeader.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/screens/dashboard/MetricTile.h"
#include "ui/screens/dashboard/SummaryPopover.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

ThemeColor cardTint(ServiceSummaryFilter filter)
{
    switch (filter) {
    case ServiceSummaryFilter::all:
        return Palette::Color::slate;
    case ServiceSummaryFilter::running:
        return Palette::Color::green;
    case ServiceSummaryFilter::stopped:
        return ThemeColor::secondary();
    }
    return ThemeColor::secondary();
}

} // namespace

DashboardView::DashboardView(ServiceManager *serviceManager, MonitoringManager *monitoringManager,
                             DashboardController::ShowService showService, QWidget *parent)
    : QWidget(parent),
      m_controller(new DashboardController(serviceManager, monitoringManager, std::move(showService), this))
{
    setWindowTitle(QStringLiteral("Dashboard"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    // The cards take the focus; the scroll area itself shows none.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);

    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    // The column is narrower by the tiles' shadow room and the rest is set in
    // by it, so headers, tiles and count cards share one left edge.
    layout->setContentsMargins(28 - SurfaceCard::shadowMargin, 28, 28 - SurfaceCard::shadowMargin, 28);
    layout->setSpacing(28);
    auto *systemHeader = new SectionHeader(QStringLiteral("System"), QStringLiteral("text.rectangle.fill"), content);
    systemHeader->setContentsMargins(SurfaceCard::shadowMargin, 0, SurfaceCard::shadowMargin, 0);
    layout->addWidget(systemHeader);
    // Tiles are cards with room for their shadow around them: the gap between
    // two drawn cards stays 14, and the count cards line up with their edges.
    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(std::max(0, 14 - 2 * SurfaceCard::shadowMargin));
    m_cpu = new MetricTile(QStringLiteral("CPU"), QStringLiteral("cpu.fill"), Palette::Color::blue, content);
    m_memory =
        new MetricTile(QStringLiteral("Memory"), QStringLiteral("memorychip.fill"), Palette::Color::green, content);
    m_gpu = new MetricTile(QStringLiteral("GPU"), QStringLiteral("gpu"), Palette::Color::orange, content);
    for (MetricTile *tile : {m_cpu, m_memory, m_gpu})
        tiles->addWidget(tile, 1, Qt::AlignTop);
    layout->addLayout(tiles);
    auto *servicesHeader = new SectionHeader(QStringLiteral("Services"), QStringLiteral("shippingbox.fill"), content);
    servicesHeader->setContentsMargins(SurfaceCard::shadowMargin, 0, SurfaceCard::shadowMargin, 0);
    layout->addWidget(servicesHeader);
    auto *cards = new QHBoxLayout;
    cards->setContentsMargins(SurfaceCard::shadowMargin, 0, SurfaceCard::shadowMargin, 0);
    cards->setSpacing(10);
    for (const ServiceSummaryFilter filter :
         {ServiceSummaryFilter::all, ServiceSummaryFilter::running, ServiceSummaryFilter::stopped}) {
        auto *card =
            new ServiceStatusActionCard(DashboardController::cardTitle(filter), 0, cardTint(filter), false, content);
        card->setToolTip(QStringLiteral("Show ") + DashboardController::popoverTitle(filter).toLower());
        connect(card, &QAbstractButton::clicked, m_controller, [this, filter] { m_controller->toggleSummary(filter); });
        m_cards.insert(filter, card);
        cards->addWidget(card, 1, Qt::AlignTop);
    }
    layout->addLayout(cards);
    layout->addStretch(1);
    scroll->setWidget(content);

    connect(m_controller, &DashboardController::systemMetricsChanged, this, &DashboardView::refreshMetrics);
    connect(m_controller, &DashboardController::servicesChanged, this, &DashboardView::refreshCounts);
    connect(m_controller, &DashboardController::summaryChanged, this, &DashboardView::refreshSummary);
    connect(m_controller, &DashboardController::summaryListHeightChanged, this, [this] {
        if (m_popover)
            m_popover->setListHeight(m_controller->summaryListHeight());
    });
    showMetrics();
    showCounts();
}

void DashboardView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_metricsStale, false))
        showMetrics();
    if (std::exchange(m_countsStale, false))
        showCounts();
}

MetricTile *DashboardView::tile(const QString &title) const
{
    if (title == QStringLiteral("CPU"))
        return m_cpu;
    if (title == QStringLiteral("Memory"))
        return m_memory;
    return title == QStringLiteral("GPU") ? m_gpu : nullptr;
}

void DashboardView::refreshMetrics()
{
    m_metricsStale = !isVisible();
    if (!m_metricsStale)
        showMetrics();
}

void DashboardView::refreshCounts()
{
    m_countsStale = !isVisible();
    if (!m_countsStale)
        showCounts();
}

void DashboardView::showMetrics()
{
    const SystemMetrics &metrics = m_controller->systemMetrics();
    m_cpu->setValue(DashboardController::percentText(metrics.cpuPercent),
                    DashboardController::gaugeValue(metrics.cpuPercent));
    const double memory = DashboardController::memoryPercent(metrics);
    m_memory->setValue(DashboardController::percentText(memory), DashboardController::gaugeValue(memory),
                       DashboardController::memorySubtitle(metrics));
    if (metrics.gpuPercent)
        m_gpu->setValue(DashboardController::percentText(*metrics.gpuPercent),
                        DashboardController::gaugeValue(*metrics.gpuPercent));
    if (m_gpu->isVisibleTo(this) != metrics.gpuPercent.has_value())
        m_gpu->setVisible(metrics.gpuPercent.has_value());
}

void DashboardView::showCounts()
{
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
        it.value()->setCount(m_controller->count(it.key()));
}

void DashboardView::refreshSummary()
{
    const auto &open = m_controller->openServiceSummary();
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
        it.value()->setHighlighted(open == it.key());
    if (SummaryPopover *current = m_popover.data()) {
        if (open && current->filter() == *open && current->isVisible())
            return;
        m_popover.clear();
        current->disconnect(this);
        current->disconnect(m_controller);
        current->close();
    }
    if (!open)
        return;
    auto *popover = new SummaryPopover(*open, m_controller->summaryRows(), m_cards.value(*open), this);
    popover->setAttribute(Qt::WA_DeleteOnClose);
    connect(popover, &SummaryPopover::rowActivated, m_controller, &DashboardController::openServiceFromSummary);
    connect(popover, &SummaryPopover::listHeightReported, m_controller, &DashboardController::reportSummaryListHeight);
    connect(popover, &SummaryPopover::dismissed, m_controller,
            [this](ServiceSummaryFilter filter) { m_controller->setSummaryPresented(filter, false); });
    m_popover = popover;
    popover->present();
}
