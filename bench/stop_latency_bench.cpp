// How long a stop takes from the call until its run is booked: a forced stop
// of a child that ends on SIGTERM, a plain stop of one that ends on SIGINT,
// and the quit with ten such services. "after_gone_ms" is how long a stop
// went on after the child had gone; the baseline is the child's own way from
// an interrupt to its end, without a stop around it.
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <benchmark/benchmark.h>

#include <csignal>
#include <optional>

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

// Notes, on the event loop, when a process has exited.
class ExitWatch {
public:
    ExitWatch(qint32 pid, const QElapsedTimer &clock)
        : m_pidfd(int(::syscall(SYS_pidfd_open, pid, 0))),
          m_notifier(m_pidfd, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this, &clock] {
            m_exitedAtMs = milliseconds(clock);
            m_notifier.setEnabled(false);
        });
    }
    ~ExitWatch()
    {
        m_notifier.setEnabled(false);
        ::close(m_pidfd);
    }
    ExitWatch(const ExitWatch &) = delete;
    ExitWatch &operator=(const ExitWatch &) = delete;

    std::optional<double> exitedAtMs() const { return m_exitedAtMs; }

private:
    int m_pidfd;
    QSocketNotifier m_notifier;
    std::optional<double> m_exitedAtMs;
};

void stopOne(benchmark::State &state, bool forced)
{
    Sleepers supervisor;
    const QUuid id = supervisor.add(QStringLiteral("server"));
    double worst = 0;
    double worstAfterGone = 0;
    for (auto _ : state) {
        supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        const ExitWatch child(supervisor.manager.launchedHandles().value(id)->processIdentifier(), clock);
        runPromptly(supervisor.manager.stop(id, forced));
        const double elapsed = milliseconds(clock);
        if (supervisor.history.activeDraft(id))
            state.SkipWithError("the run was not booked");
        state.SetIterationTime(elapsed / 1000);
        worst = std::max(worst, elapsed);
        worstAfterGone = std::max(worstAfterGone, elapsed - child.exitedAtMs().value_or(elapsed));
    }
    state.counters["worst_ms"] = worst;
    state.counters["after_gone_ms"] = worstAfterGone;
}

void BM_ForcedStop(benchmark::State &state)
{
    stopOne(state, true);
}
BENCHMARK(BM_ForcedStop)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PlainStop(benchmark::State &state)
{
    stopOne(state, false);
}
BENCHMARK(BM_PlainStop)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// The baseline: the child interrupted directly, timed until it has gone.
void BM_InterruptedChildEndsBaseline(benchmark::State &state)
{
    Sleepers supervisor;
    const QUuid id = supervisor.add(QStringLiteral("server"));
    for (auto _ : state) {
        supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        const qint32 pid = supervisor.manager.launchedHandles().value(id)->processIdentifier();
        const ExitWatch child(pid, clock);
        ::kill(pid, SIGINT);
        spinUntil([&] { return child.exitedAtMs().has_value(); }, QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                  1);
        state.SetIterationTime(*child.exitedAtMs() / 1000);
        state.PauseTiming();
        runPromptly(supervisor.manager.stop(id, true));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_InterruptedChildEndsBaseline)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QuitWithTenServices(benchmark::State &state)
{
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
}
BENCHMARK(BM_QuitWithTenServices)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

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
