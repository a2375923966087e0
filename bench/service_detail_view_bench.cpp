// The service detail view on screen (offscreen platform) while its service
// prints 100-character lines (from a pipeline of a few tools, or at full rate
// from `seq`, as fast as the pseudo-terminal takes them), through
// the real service manager, with 50 runs in its expanded history. Reports the
// main thread's share of one core, the worst lateness of a 10 ms timer on the
// main thread, and how many history rows survived the run (all but the one
// that the finished run pushes out: output and runtime ticks rebuild none).
// With VELMORA_FLOOD_SECONDS set, also a flood of that many seconds.
#include "BenchSupport.h"
#include "ui/screens/services/ServiceDetailView.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServicesController.h"

#include <QApplication>
#include <QSet>

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

namespace {

const QString pipeline = QStringLiteral("head -c 50000000 /dev/zero | tr '\\0' a | fold -w 100");
constexpr int64_t pipelineBytes = 50500000; // 50 MB of letters and a line feed every 100
// As fast as the pseudo-terminal takes it: 200 MB of numbered 100-character lines.
const QString flood = QStringLiteral("seq -f '%099.0f' 1 2000000");
constexpr int64_t floodBytes = 200000000;

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

ServiceRunRecord pastRun(const QUuid &serviceId, int index)
{
    ServiceRunRecord record;
    record.id = QUuid::createUuid();
    record.serviceId = serviceId;
    record.startedAt = QDateTime::currentDateTimeUtc().addSecs(-3600 - 60 * index);
    record.endedAt = record.startedAt.addSecs(30);
    record.pid = 1000 + index;
    record.stopReason = index % 3 == 0 ? ServiceRunStopReason::stopped : ServiceRunStopReason::exited;
    record.exitCode = index % 3 == 0 ? std::nullopt : std::optional<qint32>(index % 2);
    record.output = QStringLiteral("run %1\n").arg(index).repeated(200);
    return record;
}

// Shows the service in the view, its runtime following the controller's.
void showFollowing(ServiceDetailView &view, ServicesController &controller, const ManagedService &service)
{
    view.setService(service);
    QObject::connect(&controller, &ServicesController::runtimeEntryChanged, &view,
                     [&view, &controller, id = service.id](const QUuid &changed) {
                         if (changed == id)
                             view.setRuntime(controller.runtimeEntry(changed));
                     });
    view.resize(980, 1000);
    view.show();
}

void detailViewWhileServicePrints(benchmark::State &state)
{
    Supervisor supervisor;
    ServiceManager &manager = supervisor.manager;
    ServiceRunHistoryManager &history = supervisor.history;
    const bool fullRate = state.range(1) != 0;
    const ManagedService service = supervisor.add(QStringLiteral("flood"), fullRate ? flood : pipeline);
    for (int index = 0; index < 50; ++index)
        history.insertRecord(pastRun(service.id, index));

    // The host's part: the service and its runtime entry on every change; the
    // view takes the output additions from the controller. Without the view
    // (argument 0) the run shows what the service manager alone costs the main
    // thread.
    const bool withView = state.range(0) != 0;
    ServicesController controller(manager, supervisor.profiles, supervisor.lockManager, history);
    std::unique_ptr<ServiceDetailView> view;
    if (withView) {
        view = std::make_unique<ServiceDetailView>(controller);
        view->setService(service);
        view->setRuntime(controller.runtimeEntry(service.id));
        QObject::connect(&controller, &ServicesController::runtimeEntryChanged, view.get(), [&](const QUuid &id) {
            if (id == service.id)
                view->setRuntime(controller.runtimeEntry(id));
        });
        view->runHistorySection()->setExpanded(true);
        view->resize(980, 1000);
        view->show();
    }
    const auto historyRows = [&view] {
        return view ? view->runHistorySection()->rows() : QList<ServiceRunHistoryRow *>();
    };
    QCoreApplication::processEvents();

    double worstDelayMs = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double rowsKept = 0;
    for (auto _ : state) {
        const QList<ServiceRunHistoryRow *> before = historyRows();
        TimerLatency latency;
        QElapsedTimer wall;
        wall.start();
        const double cpuAtStart = threadCpuSeconds();
        supervisor.runToEnd(service.id);
        cpuSeconds += threadCpuSeconds() - cpuAtStart;
        wallSeconds += double(wall.nsecsElapsed()) / 1e9;
        worstDelayMs = std::max(worstDelayMs, latency.worstDelayMs());
        const QList<ServiceRunHistoryRow *> after = historyRows();
        const QSet<ServiceRunHistoryRow *> kept(before.cbegin(), before.cend());
        rowsKept = double(std::count_if(after.cbegin(), after.cend(), [&](auto *row) { return kept.contains(row); }));
    }
    run(history.waitForPendingWrites());

    state.SetBytesProcessed(state.iterations() * (fullRate ? floodBytes : pipelineBytes));
    state.counters["mainThreadCoreShare"] = wallSeconds > 0 ? cpuSeconds / wallSeconds : 0;
    state.counters["worstTimerDelayMs"] = worstDelayMs;
    state.counters["historyRowsKept"] = rowsKept;
}

// The view showing a running service for five seconds: the main thread's
// share of one core. A quiet service (argument 0) leaves the running
// indicator at rest; the baseline (argument 1) prints a short line twice a
// second, which keeps the indicator turning all along, as it used to whenever
// a service ran.
void detailViewWhileServiceRuns(benchmark::State &state)
{
    Supervisor supervisor;
    ServiceManager &manager = supervisor.manager;
    const bool printing = state.range(0) != 0;
    const ManagedService service =
        supervisor.add(QStringLiteral("server"), printing ? QStringLiteral("while :; do echo tick; sleep 0.5; done")
                                                          : QStringLiteral("exec sleep 600"));
    ServicesController controller(manager, supervisor.profiles, supervisor.lockManager, supervisor.history);
    ServiceDetailView view(controller);
    showFollowing(view, controller, service);
    run(manager.start(service.id));
    view.setRuntime(manager.runtime().value(service.id));
    const auto idleFor = [](int milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    };
    idleFor(1000); // past the start's own drawing

    double share = 0;
    for (auto _ : state) {
        QElapsedTimer wall;
        wall.start();
        const double cpuAtStart = threadCpuSeconds();
        idleFor(5000);
        share = (threadCpuSeconds() - cpuAtStart) / (double(wall.nsecsElapsed()) / 1e9);
        state.SetIterationTime(double(wall.nsecsElapsed()) / 1e9);
    }
    supervisor.killAll();
    state.counters["mainThreadCorePercent"] = share * 100;
}

// The view following a service that floods it for `seconds` (VELMORA_FLOOD_SECONDS;
// 600 for the ten-minute run, which only runs when asked for): the main
// thread's share of one core and its worst stall over the whole flood, and
// what the flood's live output costs in resident memory: the growth of the
// resident size since before the start, per MB (UTF-16) of the live output the
// service holds, both averaged over samples every half second through the
// flood's second half.
void detailViewUnderLongFlood(benchmark::State &state, int seconds)
{
    Supervisor supervisor;
    const ManagedService service =
        supervisor.add(QStringLiteral("flood"), QStringLiteral("seq -f '%099.0f' 1 1000000000"));
    ServicesController controller(supervisor.manager, supervisor.profiles, supervisor.lockManager, supervisor.history);
    ServiceDetailView view(controller);
    showFollowing(view, controller, service);
    double share = 0;
    double worstDelayMs = 0;
    double residentPerOutputMB = 0;
    for (auto _ : state) {
        QCoreApplication::processEvents();
        const qint64 residentBeforeKiB = statusKilobytes("VmRSS:");
        run(supervisor.manager.start(service.id));
        TimerLatency latency;
        QElapsedTimer wall;
        wall.start();
        const double cpuAtStart = threadCpuSeconds();
        double growthBytes = 0;
        double outputMB = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (wall.elapsed() < seconds * 500)
                return;
            growthBytes += double(statusKilobytes("VmRSS:") - residentBeforeKiB) * 1024;
            outputMB += double(supervisor.manager.currentOutput(service.id).size()) * 2 / 1e6;
        });
        sampler.start(500);
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        sampler.stop();
        share = (threadCpuSeconds() - cpuAtStart) / (double(wall.nsecsElapsed()) / 1e9);
        worstDelayMs = latency.worstDelayMs();
        state.SetIterationTime(double(wall.nsecsElapsed()) / 1e9);
        residentPerOutputMB = outputMB > 0 ? growthBytes / outputMB : 0;
        supervisor.killAll();
    }
    state.counters["mainThreadCorePercent"] = share * 100;
    state.counters["worstTimerDelayMs"] = worstDelayMs;
    state.counters["residentBytesPerLiveOutputMB"] = residentPerOutputMB;
    state.SetLabel("goals: <= 10 % of a core, no stall > 50 ms");
}

} // namespace

BENCHMARK(detailViewWhileServicePrints)
    ->ArgNames({"withView", "fullRate"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(detailViewWhileServiceRuns)
    ->ArgName("printingBaseline")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseManualTime();

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one; drawing goes offscreen.
    const ScratchHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    if (const int seconds = qEnvironmentVariableIntValue("VELMORA_FLOOD_SECONDS"); seconds > 0) {
        benchmark::RegisterBenchmark("detailViewUnderLongFlood", detailViewUnderLongFlood, seconds)
            ->Iterations(1)
            ->Unit(benchmark::kSecond)
            ->UseManualTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
