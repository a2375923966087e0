// 200 MB of line output from one service, through the bare process handle and
// through the whole service manager path (handle, hand-over, throttled runtime
// entry, run record on exit), in the same run. Beside each, a 10 ms timer on
// the main thread reports how late it fired at worst.
#include "BenchSupport.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

const QString pipeline = QStringLiteral("head -c 200000000 /dev/zero | tr '\\0' a | fold -w 100");
constexpr int64_t pipelineBytes = 202000000; // 200 MB of letters and a line feed every 100

void bareHandle(benchmark::State &state)
{
    double worstDelayMs = 0;
    for (auto _ : state) {
        TimerLatency latency;
        const auto handle = launchProcess(shellOnTerminal(pipeline));
        bool exited = false;
        qsizetype characters = 0;
        handle->setOutputHandler([&](const QString &text, bool) { characters += text.size(); });
        handle->setExitHandler([&](ProcessExitStatus) { exited = true; });
        spinUntil([&] { return exited; });
        benchmark::DoNotOptimize(characters);
        worstDelayMs = std::max(worstDelayMs, latency.worstDelayMs());
    }
    state.SetBytesProcessed(state.iterations() * pipelineBytes);
    state.counters["worstTimerDelayMs"] = worstDelayMs;
}

void throughServiceManager(benchmark::State &state)
{
    Supervisor supervisor;
    ServiceRunHistoryManager &history = supervisor.history;
    const ManagedService service = supervisor.add(QStringLiteral("flood"), pipeline);

    int entrySignals = 0;
    QObject::connect(&supervisor.manager, &ServiceManager::runtimeEntryChanged, [&] { ++entrySignals; });
    double worstDelayMs = 0;
    for (auto _ : state) {
        TimerLatency latency;
        supervisor.runToEnd(service.id);
        worstDelayMs = std::max(worstDelayMs, latency.worstDelayMs());
    }
    run(history.waitForPendingWrites());

    state.SetBytesProcessed(state.iterations() * pipelineBytes);
    state.counters["worstTimerDelayMs"] = worstDelayMs;
    state.counters["entrySignalsPerRun"] = double(entrySignals) / double(state.iterations());
    QString recorded;
    run([](ServiceRunHistoryManager &manager, QUuid id, QString &output) -> QCoro::Task<> {
        output = co_await manager.runOutput(id);
    }(history, history.records(service.id).value(0).id, recorded));
    state.counters["recordedCharacters"] = double(recorded.size());
}

} // namespace

BENCHMARK(bareHandle)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(throughServiceManager)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bareHandle)->Name("bareHandle/again")->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(throughServiceManager)
    ->Name("throughServiceManager/again")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    // The data folder and the terminal folders go to a scratch home, never the real one.
    const ScratchHome home;
    benchmark::Initialize(&argc, argv);
    QCoreApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
