// How long a stop takes from the call until its run is booked: a forced stop
// of a child that ends on SIGTERM, a plain stop of one that ends on SIGINT
// (its 1.5 s grace period included), and the quit with ten such services.
#include "BenchSupport.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

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
    Sleepers() { run(manager->loadServices()); }

    QUuid add(const QString &name) { return Supervisor::add(name, command).id; }

    // Starts the service and waits until its shell has become the sleeping command.
    void start(const QUuid &id)
    {
        run(manager->start(id));
        const qint32 pid = manager->launchedHandles().value(id)->processIdentifier();
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

void stopOne(benchmark::State &state, bool forced)
{
    Sleepers supervisor;
    const QUuid id = supervisor.add(QStringLiteral("server"));
    double worst = 0;
    for (auto _ : state) {
        supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        runPromptly(supervisor.manager->stop(id, forced));
        const double elapsed = milliseconds(clock);
        if (supervisor.history.activeDraft(id))
            state.SkipWithError("the run was not booked");
        state.SetIterationTime(elapsed / 1000);
        worst = std::max(worst, elapsed);
    }
    state.counters["worst_ms"] = worst;
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
BENCHMARK(BM_PlainStop)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);

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
        runPromptly(supervisor.manager->prepareForTermination());
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
