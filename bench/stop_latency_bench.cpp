// How long a stop takes from the call until its run is booked: a forced stop
// of a child that ends on SIGTERM, a plain stop of one that ends on SIGINT,
// and the quit with ten such services. "after_gone_ms" is how long a stop
// went on after the child had gone; the baseline is the child's own way from
// an interrupt to its end, without a stop around it. Each runs as the machine
// is and again with 1,000 extra idle processes on it (the argument).
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A child that ends on the first signal of either kind of stop.
const QString command = QStringLiteral("exec sleep 600");

// Waits in 1 ms slices so that the end of a stop is seen as it happens.
void runPromptly(QCoro::Task<> task)
{
    run(std::move(task), QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 1);
}

// Services whose children end on the first signal of either kind of stop.
struct Sleepers : Supervisor {
    Sleepers() { run(manager.loadServices()); }

    QUuid add(const QString &name) { return Supervisor::add(name, command).id; }

    // Starts the service and waits until its shell has become the sleeping command.
    void start(const QUuid &id)
    {
        run(manager.start(id));
        const qint32 pid = manager.launchedHandles().value(id)->processIdentifier();
        const ProcFileSystem fileSystem = ProcFileSystem::system();
        spinUntil(
            [&] {
                const auto stat = fileSystem.readProcessStat(pid);
                return !stat || stat->name == "sleep";
            },
            QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 1);
    }
};

double milliseconds(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// Notes when a process has exited, on a thread of its own: the stop runs on
// the main thread, which would see the exit only after the stop has ended.
class ExitWatch {
public:
    ExitWatch(qint32 pid, const QElapsedTimer &clock)
        : m_pidfd(int(::syscall(SYS_pidfd_open, pid, 0))),
          m_watcher([this, &clock] {
              pollfd exit {m_pidfd, POLLIN, 0};
              while (::poll(&exit, 1, -1) < 0) {}
              m_exitedAtNs = clock.nsecsElapsed();
          })
    {}
    ~ExitWatch()
    {
        m_watcher.join();
        ::close(m_pidfd);
    }
    ExitWatch(const ExitWatch &) = delete;
    ExitWatch &operator=(const ExitWatch &) = delete;

    std::optional<double> exitedAtMs() const
    {
        const qint64 exited = m_exitedAtNs.load();
        return exited < 0 ? std::nullopt : std::optional<double>(double(exited) / 1e6);
    }
    // Blocks until the exit has been seen; only once the process has gone.
    double waitForExitMs()
    {
        m_watcher.join();
        m_watcher = std::thread([] {});
        return *exitedAtMs();
    }

private:
    int m_pidfd;
    std::atomic<qint64> m_exitedAtNs {-1};
    std::thread m_watcher;
};

void stopOne(benchmark::State &state, bool forced)
{
    const IdleProcesses busy(int(state.range(0)));
    Sleepers supervisor;
    const QUuid id = supervisor.add(QStringLiteral("server"));
    double worst = 0;
    double worstAfterGone = 0;
    std::vector<double> afterGone;
    for (auto _ : state) {
        supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        ExitWatch child(supervisor.manager.launchedHandles().value(id)->processIdentifier(), clock);
        runPromptly(supervisor.manager.stop(id, forced));
        const double elapsed = milliseconds(clock);
        if (supervisor.history.activeDraft(id))
            state.SkipWithError("the run was not booked");
        state.SetIterationTime(elapsed / 1000);
        worst = std::max(worst, elapsed);
        const double gone = elapsed - child.waitForExitMs();
        afterGone.push_back(gone);
        worstAfterGone = std::max(worstAfterGone, gone);
        state.PauseTiming();
        run(supervisor.manager.waitForStopSequences());
        state.ResumeTiming();
    }
    std::sort(afterGone.begin(), afterGone.end());
    state.counters["worst_ms"] = worst;
    state.counters["after_gone_ms"] = worstAfterGone;
    state.counters["after_gone_median_ms"] = afterGone.empty() ? 0 : afterGone[afterGone.size() / 2];
    state.counters["after_gone_goal_ms"] = 20;
    state.counters["extra_processes"] = busy.count();
}

void BM_ForcedStop(benchmark::State &state)
{
    stopOne(state, true);
}
BENCHMARK(BM_ForcedStop)->Arg(0)->Arg(1000)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PlainStop(benchmark::State &state)
{
    stopOne(state, false);
}
BENCHMARK(BM_PlainStop)->Arg(0)->Arg(1000)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// The baseline: the child interrupted directly, timed until it has gone.
void BM_InterruptedChildEndsBaseline(benchmark::State &state)
{
    const IdleProcesses busy(int(state.range(0)));
    Sleepers supervisor;
    const QUuid id = supervisor.add(QStringLiteral("server"));
    for (auto _ : state) {
        supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        const qint32 pid = supervisor.manager.launchedHandles().value(id)->processIdentifier();
        ExitWatch child(pid, clock);
        ::kill(pid, SIGINT);
        state.SetIterationTime(child.waitForExitMs() / 1000);
        state.PauseTiming();
        runPromptly(supervisor.manager.stop(id, true));
        run(supervisor.manager.waitForStopSequences());
        state.ResumeTiming();
    }
    state.counters["extra_processes"] = busy.count();
}
BENCHMARK(BM_InterruptedChildEndsBaseline)
    ->Arg(0)
    ->Arg(1000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_QuitWithTenServices(benchmark::State &state)
{
    const IdleProcesses busy(int(state.range(0)));
    double worst = 0;
    for (auto _ : state) {
        Sleepers supervisor;
        QList<QUuid> ids;
        for (int index = 0; index < 10; ++index)
            ids.append(supervisor.add(QStringLiteral("server %1").arg(index)));
        for (const QUuid &id : std::as_const(ids))
            supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        runPromptly(supervisor.manager.prepareForTermination());
        const double elapsed = milliseconds(clock);
        for (const QUuid &id : std::as_const(ids)) {
            if (supervisor.history.activeDraft(id))
                state.SkipWithError("a run was not booked");
        }
        state.SetIterationTime(elapsed / 1000);
        worst = std::max(worst, elapsed);
    }
    state.counters["worst_ms"] = worst;
    state.counters["goal_ms"] = 200;
    state.counters["extra_processes"] = busy.count();
}
BENCHMARK(BM_QuitWithTenServices)->Arg(0)->Arg(1000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one.
    const ScratchHome home;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
