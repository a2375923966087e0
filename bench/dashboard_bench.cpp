// The dashboard's main-thread time per second-tick with 200 services, 50 of
// them running: the runtime figures of the running ones and the machine
// sample change every tick, and the view repaints what changed. Also the cost
// of opening the All popover over the 200 services.
#include "ui/components/ThemeManager.h"
#include "ui/screens/dashboard/DashboardView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

struct DashboardData {
    QList<ManagedService> services;
    DashboardController::Runtime runtime;

    DashboardData(int serviceCount, int runningCount)
    {
        for (int index = 0; index < serviceCount; ++index) {
            ManagedService service {QUuid::createUuid(),
                                    QStringLiteral("Service %1").arg(index, 3, 10, QLatin1Char('0')),
                                    QStringLiteral("run --port %1").arg(3000 + index),
                                    false,
                                    std::nullopt,
                                    {},
                                    {}};
            if (index < runningCount) {
                ServiceRuntimeInfo info = ServiceRuntimeInfo::fresh(service.id);
                info.state = ServiceLifecycleState::running;
                info.pid = 10000 + index;
                info.processOutput = QString(2000, QLatin1Char('x'));
                runtime.insert(service.id, info);
            }
            services.append(service);
        }
    }

    void tick(int round)
    {
        for (auto &info : runtime) {
            info.cpuPercent = (round % 7) * 1.5;
            info.memoryBytes = 100'000'000ULL + quint64(round) * 4096;
            info.uptime = round;
        }
    }
};

// The dashboard on screen over 200 services, 50 of them running.
struct Dashboard {
    DashboardData data {200, 50};
    DashboardView view {nullptr, nullptr, [](const QUuid &) {}};

    Dashboard()
    {
        view.resize(1180, 760);
        view.show();
        view.controller().presentServices(data.services, data.runtime);
        QCoreApplication::processEvents();
    }
};

void BM_DashboardTick(benchmark::State &state)
{
    Dashboard dashboard;
    DashboardData &data = dashboard.data;
    DashboardView &view = dashboard.view;
    int round = 0;
    for (auto _ : state) {
        ++round;
        data.tick(round);
        view.controller().presentServices(data.services, data.runtime);
        view.controller().presentSystemMetrics(
            SystemMetrics::make(10 + round % 50, 8'000'000'000ULL + quint64(round) * 1'000'000, 16'000'000'000ULL,
                                std::optional<double>(round % 90)));
        // The repaint the tick asked for is part of its cost.
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_DashboardTick)->Unit(benchmark::kMicrosecond);

void BM_DashboardOpenAllPopover(benchmark::State &state)
{
    Dashboard dashboard;
    DashboardView &view = dashboard.view;
    for (auto _ : state) {
        view.controller().toggleSummary(ServiceSummaryFilter::all);
        QCoreApplication::processEvents();
        view.controller().toggleSummary(ServiceSummaryFilter::all);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_DashboardOpenAllPopover)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ThemeManager::instance().apply(AppAppearanceMode::light);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
