// The dashboard's main-thread time per second-tick with 200 services, 50 of
// them running: the runtime figures of the running ones and the machine
// sample change every tick, and the view repaints what changed. Also the cost
// of opening the All popover over the 200 services; and what the Dashboard
// costs shown and idle, beside the Services screen with nothing selected in
// the same run (the baseline), and in a hidden window, over real managers
// whose machine figures come from a fixed /proc (so they never change), as
// the machine is and again with 1,000 extra idle processes on it.
#include "BenchSupport.h"
#include "execution/MonitoringManager.h"
#include "ui/components/ThemeManager.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/services/ServicesView.h"

#include <QApplication>
#include <QDir>

#include <benchmark/benchmark.h>

#include <ctime>

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

double threadCpuMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The main thread's share of a core while the event loop idles for a while.
double idleCorePercent(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    const double before = threadCpuMs();
    spinUntil([&] { return clock.elapsed() >= milliseconds; });
    return 100.0 * (threadCpuMs() - before) / double(clock.elapsed());
}

// A /proc whose machine figures never change (no CPU time passes, memory
// stays) while every process that runs now is seen as it really is.
QString fixedProcRoot()
{
    const QString root = scratchPath("fixed-proc");
    QDir().mkpath(root);
    QByteArray bootTime = "btime 1700000000\n";
    QFile real(QStringLiteral("/proc/stat"));
    if (real.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : real.readAll().split('\n')) {
            if (line.startsWith("btime "))
                bootTime = line + '\n';
        }
    }
    QFile stat(root + QStringLiteral("/stat"));
    if (stat.open(QIODevice::WriteOnly))
        stat.write("cpu  4000 0 2000 90000 100 0 0 0 0 0\n" + bootTime);
    QFile memory(root + QStringLiteral("/meminfo"));
    if (memory.open(QIODevice::WriteOnly))
        memory.write("MemTotal:       16000000 kB\nMemAvailable:    9000000 kB\n");
    QFile::link(QStringLiteral("/proc/uptime"), root + QStringLiteral("/uptime"));
    for (const qint32 pid : ProcFileSystem::system().listProcessIds())
        QFile::link(QStringLiteral("/proc/%1").arg(pid), root + QStringLiteral("/%1").arg(pid));
    return root;
}

void BM_IdleDashboardBesideServicesScreen(benchmark::State &state)
{
    const int windowMs = 6000;
    const IdleProcesses busy(int(state.range(0)));
    Supervisor supervisor;
    run(supervisor.manager.loadServices());
    QList<QUuid> ids;
    for (int index = 0; index < 20; ++index)
        ids.append(supervisor.add(QStringLiteral("service %1").arg(index), QStringLiteral("exec sleep 600")).id);
    for (int index = 0; index < 5; ++index)
        run(supervisor.manager.start(ids.at(index)));
    ProcFileSystem fixed;
    fixed.procRoot = fixedProcRoot();
    fixed.sysRoot = fixed.procRoot;
    MonitoringManager monitoring(nullptr, fixed);
    ServiceManager *services = &supervisor.manager;
    monitoring.configureProcessSampling(
        [services] { return services->trackedProcessIDs(); }, [] { return QSet<QString>(); },
        [services](const QList<ProcessSnapshot> &snapshots) { services->applyProcessSnapshots(snapshots); });
    monitoring.start();
    double servicesPercent = 0;
    double dashboardPercent = 0;
    double hiddenPercent = 0;
    for (auto _ : state) {
        {
            ServicesView view(supervisor.manager, supervisor.profiles, supervisor.lockManager, supervisor.history);
            view.resize(1180, 760);
            view.show();
            idleCorePercent(1000);
            servicesPercent = idleCorePercent(windowMs);
        }
        {
            DashboardView view(&supervisor.manager, &monitoring, [](const QUuid &) {});
            view.resize(1180, 760);
            view.show();
            idleCorePercent(1000);
            dashboardPercent = idleCorePercent(windowMs);
            view.hide();
            idleCorePercent(1000);
            hiddenPercent = idleCorePercent(windowMs);
        }
    }
    state.counters["services_screen_percent"] = servicesPercent;
    state.counters["dashboard_percent"] = dashboardPercent;
    state.counters["dashboard_hidden_percent"] = hiddenPercent;
    state.counters["ratio"] = servicesPercent > 0 ? dashboardPercent / servicesPercent : 0;
    state.counters["ratio_goal"] = 1.1;
    state.counters["extra_processes"] = busy.count();
    supervisor.killAll();
}
BENCHMARK(BM_IdleDashboardBesideServicesScreen)->Arg(0)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one.
    const ScratchHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ThemeManager::instance().apply(AppAppearanceMode::light);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
