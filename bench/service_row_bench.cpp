// Long commands in the Services list, offscreen. How long the window freezes
// while a service with a 100 KB command starts, beside the start of a service
// that runs a short `sleep` command in the same run (the baseline; median of
// five starts each); and what moving the pointer over a list of six services
// with 100 KB commands costs the main thread (share of a core, longest
// stall: how late a 10 ms timer fired), beside the same list with short
// commands. Each runs as the machine is and again with 1,000 extra idle
// processes on it (the second argument).
#include "BenchSupport.h"
#include "ui/launch/SudoLaunchAction.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHoverEvent>
#include <QListView>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr qsizetype longCommandBytes = 100'000;

// A command that starts a sleeping child and carries 100 KB of words after it.
QString command(bool isLong)
{
    if (!isLong)
        return QStringLiteral("exec sleep 600");
    return QStringLiteral("exec sleep 600 # ")
           + repeatedTo(QStringLiteral("--flag=value path/to/some/file.txt "), longCommandBytes);
}

double threadCpuMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Runs the event loop until `done`, and returns the longest pass it took.
double longestPassMs(const std::function<bool()> &done)
{
    double longest = 0;
    while (!done()) {
        QElapsedTimer pass;
        pass.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        longest = std::max(longest, double(pass.nsecsElapsed()) / 1e6);
    }
    return longest;
}

struct Screen : Supervisor {
    std::unique_ptr<ServicesView> view;
    QList<ManagedService> services;

    explicit Screen(bool longCommands)
    {
        for (int index = 0; index < 6; ++index)
            services.append(add(QStringLiteral("service %1").arg(index), command(longCommands)));
        view = std::make_unique<ServicesView>(manager, profiles, lockManager, history);
        view->resize(1180, 760);
        view->show();
        longestPassMs([n = 0]() mutable { return ++n > 5; });
    }
    ~Screen()
    {
        view.reset();
        killAll();
    }

    QListView *list() const { return view->findChild<QListView *>(QStringLiteral("serviceList")); }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// range(0): 1 for the 100 KB command, 0 for the `sleep` baseline.
void StartFreeze(benchmark::State &state)
{
    const bool isLong = state.range(0) == 1;
    const IdleProcesses busy(int(state.range(1)));
    Screen screen(isLong);
    const ManagedService service = screen.services.first();
    screen.view->selectService(service.id);
    longestPassMs([n = 0]() mutable { return ++n > 5; });
    std::vector<double> freezes;
    for (auto _ : state) {
        bool started = false;
        QElapsedTimer clock;
        clock.start();
        [](ServicesController &controller, ManagedService launched, bool &done) -> QCoro::Task<> {
            try {
                co_await controller.launchService(launched, SudoLaunchAction::start);
            } catch (...) {}
            done = true;
        }(screen.view->controller(), service, started);
        // Until the start is done and the window has shown it.
        int passesAfter = 0;
        const double freeze = longestPassMs([&] { return started && ++passesAfter > 20; });
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (screen.manager.runtime().value(service.id).state != ServiceLifecycleState::running)
            state.SkipWithError("the service did not start");
        freezes.push_back(freeze);
        state.PauseTiming();
        run(screen.manager.stop(service.id, true));
        run(screen.manager.waitForStopSequences());
        state.ResumeTiming();
    }
    state.counters["freeze_median_ms"] = median(freezes);
    state.counters["extra_processes"] = busy.count();
    state.SetLabel(isLong ? "100 KB command" : "sleep (baseline)");
}
BENCHMARK(StartFreeze)->ArgsProduct({{0, 1}, {0, 1000}})->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// range(0): 1 for six 100 KB commands, 0 for six short ones (the baseline).
void Hover(benchmark::State &state)
{
    const bool isLong = state.range(0) == 1;
    const IdleProcesses busy(int(state.range(1)));
    Screen screen(isLong);
    QWidget *viewport = screen.list()->viewport();
    double cpuShare = 0;
    double longestStall = 0;
    for (auto _ : state) {
        // Two seconds of a pointer sweeping up and down the rows at 60 moves a second.
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = threadCpuMs();
        QTimer moves;
        moves.setTimerType(Qt::PreciseTimer);
        QPointF previous(100, 5);
        int step = 0;
        QObject::connect(&moves, &QTimer::timeout, [&] {
            const int span = 6 * 56;
            const int travel = (step++ * 7) % (2 * span);
            const QPointF position(100, 5 + (travel < span ? travel : 2 * span - travel));
            QHoverEvent move(QEvent::HoverMove, position, viewport->mapToGlobal(position), previous);
            QCoreApplication::sendEvent(viewport, &move);
            previous = position;
        });
        moves.start(16);
        const TimerLatency latency;
        spinUntil([&] { return clock.elapsed() >= 2000; });
        longestStall = std::max(longestStall, latency.worstDelayMs());
        moves.stop();
        const double wallMs = double(clock.nsecsElapsed()) / 1e6;
        cpuShare = 100.0 * (threadCpuMs() - cpuBefore) / wallMs;
        state.SetIterationTime(wallMs / 1000);
    }
    state.counters["core_percent"] = cpuShare;
    state.counters["longest_stall_ms"] = longestStall;
    state.counters["extra_processes"] = busy.count();
    state.SetLabel(isLong ? "six 100 KB commands" : "six short commands (baseline)");
}
BENCHMARK(Hover)->ArgsProduct({{0, 1}, {0, 1000}})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one.
    const ScratchHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
