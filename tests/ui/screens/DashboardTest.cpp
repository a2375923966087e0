#include "ui/components/ServiceStatusActionCard.h"
#include "ui/screens/dashboard/DashboardController.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/dashboard/MetricTile.h"
#include "ui/screens/dashboard/SummaryPopover.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ManagedService service(const QString &name, const QString &command = QStringLiteral("run"))
{
    return {QUuid::createUuid(), name, command, false, std::nullopt, {}, {}};
}

ServiceRuntimeInfo entry(const ManagedService &service, ServiceLifecycleState state, std::optional<qint32> pid = {})
{
    ServiceRuntimeInfo info = ServiceRuntimeInfo::fresh(service.id);
    info.state = state;
    info.pid = pid;
    return info;
}

QStringList names(const QList<ServiceSummaryRow> &rows)
{
    QStringList result;
    for (const auto &row : rows)
        result.append(row.name);
    return result;
}

struct DashboardTest : ::testing::Test {
    QList<QUuid> shown;
    DashboardController controller {nullptr, nullptr, [this](const QUuid &id) { shown.append(id); }};
    ManagedService web = service(QStringLiteral("web"), QStringLiteral("npm start"));
    ManagedService Api = service(QStringLiteral("Api"));
    ManagedService api = service(QStringLiteral("api"), QString());
    ManagedService worker = service(QStringLiteral("worker"), QStringLiteral("   "));
    ManagedService idle = service(QStringLiteral("idle"));

    void present()
    {
        DashboardController::Runtime runtime;
        runtime.insert(web.id, entry(web, ServiceLifecycleState::running, 42));
        runtime.insert(Api.id, entry(Api, ServiceLifecycleState::stopped));
        runtime.insert(worker.id, entry(worker, ServiceLifecycleState::notResponding, 7));
        // idle and api have no runtime entry.
        controller.presentServices({web, Api, api, worker, idle}, runtime);
    }
};

} // namespace

TEST_F(DashboardTest, CountsRunningEntriesAndTheRestAsStopped)
{
    present();
    EXPECT_EQ(controller.count(ServiceSummaryFilter::all), 5);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::running), 1);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::stopped), 4);
    // Running counts runtime entries, so a leftover entry can outnumber the services.
    DashboardController::Runtime runtime;
    const auto gone = service(QStringLiteral("gone"));
    runtime.insert(web.id, entry(web, ServiceLifecycleState::running));
    runtime.insert(gone.id, entry(gone, ServiceLifecycleState::running));
    controller.presentServices({web}, runtime);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::running), 2);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::stopped), 0);
}

TEST_F(DashboardTest, RowsAreSortedFilteredAndFilledFromTheRuntime)
{
    present();
    const auto stopped = DashboardController::makeSummaryRows(ServiceSummaryFilter::stopped, controller.services(),
                                                              controller.runtime());
    EXPECT_EQ(names(stopped), (QStringList {QStringLiteral("Api"), QStringLiteral("api"), QStringLiteral("idle"),
                                            QStringLiteral("worker")}));
    EXPECT_EQ(stopped[1].detail, QStringLiteral("No shell command"));
    EXPECT_EQ(stopped[1].state, ServiceLifecycleState::stopped);
    EXPECT_FALSE(stopped[1].pid);
    EXPECT_EQ(stopped[3].detail, QStringLiteral("   "));
    EXPECT_EQ(stopped[3].state, ServiceLifecycleState::notResponding);
    EXPECT_EQ(DashboardController::badgeText(stopped[3].state), QStringLiteral("Not Responding"));
    const auto running = DashboardController::makeSummaryRows(ServiceSummaryFilter::running, controller.services(),
                                                              controller.runtime());
    ASSERT_EQ(names(running), QStringList {QStringLiteral("web")});
    EXPECT_EQ(running[0].pid, 42);
    EXPECT_TRUE(DashboardController::makeSummaryRows(ServiceSummaryFilter::all, {}, {}).isEmpty());
}

TEST(DashboardFigures, PercentTextsAndGauge)
{
    EXPECT_EQ(DashboardController::memoryPercent(SystemMetrics::make(10, 5, 0, std::nullopt)), 0);
    EXPECT_EQ(DashboardController::percentText(0), QStringLiteral("0.0%"));
    EXPECT_EQ(DashboardController::percentText(150.04), QStringLiteral("150.0%"));
    EXPECT_EQ(DashboardController::memoryPercent(SystemMetrics::make(0, 512, 2048, std::nullopt)), 25);
    const QList<std::pair<double, double>> gauge {{-5, 0}, {0, 0}, {42, 0.42}, {100, 1}, {250, 1}};
    for (const auto &[percent, value] : gauge)
        EXPECT_DOUBLE_EQ(DashboardController::gaugeValue(percent), value) << percent;
}

TEST_F(DashboardTest, PopoverOpensTogglesMovesAndIgnoresALateDismissal)
{
    present();
    controller.toggleSummary(ServiceSummaryFilter::running);
    EXPECT_EQ(controller.openServiceSummary(), ServiceSummaryFilter::running);
    EXPECT_EQ(controller.summaryListHeight(), 78);
    controller.toggleSummary(ServiceSummaryFilter::all);
    EXPECT_EQ(controller.openServiceSummary(), ServiceSummaryFilter::all);
    EXPECT_EQ(controller.summaryRows().size(), 5);
    // The dismissal of the popover that was moved away arrives late.
    controller.setSummaryPresented(ServiceSummaryFilter::running, false);
    EXPECT_EQ(controller.openServiceSummary(), ServiceSummaryFilter::all);
    // Rows are a snapshot of the moment the popover opened.
    controller.presentServices({web}, {});
    EXPECT_EQ(controller.summaryRows().size(), 5);
    EXPECT_EQ(controller.count(ServiceSummaryFilter::all), 1);
    controller.reportSummaryListHeight(390.4);
    EXPECT_EQ(controller.summaryListHeight(), 390);
    controller.reportSummaryListHeight(402);
    EXPECT_EQ(controller.summaryListHeight(), 402);
    controller.toggleSummary(ServiceSummaryFilter::all);
    EXPECT_FALSE(controller.openServiceSummary());
    EXPECT_TRUE(controller.summaryRows().isEmpty());
    EXPECT_EQ(controller.summaryListHeight(), 0);
}

TEST_F(DashboardTest, ViewShowsGpuOnlyWithAReadingAndRowsOpenTheService)
{
    DashboardView view(nullptr, nullptr, [this](const QUuid &id) { shown.append(id); });
    view.resize(900, 600);
    view.show();
    view.controller().presentSystemMetrics(SystemMetrics::make(12.34, 0, 0, std::nullopt));
    EXPECT_FALSE(view.tile(QStringLiteral("GPU"))->isVisible());
    EXPECT_EQ(view.tile(QStringLiteral("Memory"))->valueText(), QStringLiteral("0.0%"));
    EXPECT_EQ(view.tile(QStringLiteral("CPU"))->valueText(), QStringLiteral("12.3%"));
    view.controller().presentSystemMetrics(SystemMetrics::make(12.34, 0, 0, 55.0));
    EXPECT_TRUE(view.tile(QStringLiteral("GPU"))->isVisible());

    DashboardController::Runtime runtime;
    runtime.insert(web.id, entry(web, ServiceLifecycleState::running, 42));
    view.controller().presentServices({web, idle}, runtime);
    ServiceStatusActionCard *running = view.card(ServiceSummaryFilter::running);
    ServiceStatusActionCard *stopped = view.card(ServiceSummaryFilter::stopped);
    ASSERT_TRUE(running && stopped);
    EXPECT_EQ(running->count(), 1);
    EXPECT_EQ(stopped->count(), 1);
    QTest::mouseClick(running, Qt::LeftButton);
    ASSERT_NE(view.popover(), nullptr);
    EXPECT_TRUE(running->isHighlighted());
    const auto rows = view.popover()->findChildren<QAbstractButton *>(QStringLiteral("summaryRow"));
    ASSERT_EQ(rows.size(), 1);
    rows.first()->click();
    EXPECT_EQ(shown, QList<QUuid> {web.id});
    EXPECT_FALSE(view.controller().openServiceSummary());
    EXPECT_FALSE(running->isHighlighted());
}
