// Throughput of capturing a child's output: through RunningProcessHandle (its
// watcher thread, decoder, buffer with the 200000 -> 150000 cut and batched
// hand-over to the main thread), and through a bare pseudo-terminal read loop
// that reads into a buffer and discards it. Both run the same shell pipeline
// on a pseudo-terminal set up the same way.
#include "BenchSupport.h"
#include "platform/ProcessSpawn.h"
#include "platform/PseudoTerminal.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/wait.h>

extern char **environ;

namespace {

const QString pipeline = QStringLiteral("head -c 200000000 /dev/zero | tr '\\0' a | fold -w 100");
constexpr int64_t pipelineBytes = 202000000; // 200 MB of letters and a line feed every 100

void handleCapture(benchmark::State &state)
{
    int64_t handOvers = 0;
    int64_t characters = 0;
    for (auto _ : state) {
        const auto handle = launchProcess(shellOnTerminal(pipeline));
        bool exited = false;
        handle->setOutputHandler([&](const QString &text, bool) {
            ++handOvers;
            characters += text.size();
        });
        handle->setExitHandler([&](ProcessExitStatus) { exited = true; });
        spinUntil([&] { return exited; });
        benchmark::DoNotOptimize(handle->collectedOutput().size());
    }
    state.SetBytesProcessed(state.iterations() * pipelineBytes);
    state.counters["handOversPerSecond"] = benchmark::Counter(double(handOvers), benchmark::Counter::kIsRate);
    state.counters["handOversPerRun"] = double(handOvers) / double(state.iterations());
}

void bareTerminalReadLoop(benchmark::State &state)
{
    QList<QByteArray> environment;
    for (char **entry = environ; *entry; ++entry)
        environment.append(QByteArray(*entry));
    std::array<char, 8192> buffer;
    for (auto _ : state) {
        std::optional<PseudoTerminal> terminal = PseudoTerminal::open();
        if (!terminal) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        ProcessSpawnRequest request;
        request.program = "/bin/sh";
        request.arguments = {"/bin/sh", "-lc", pipeline.toUtf8()};
        request.environment = environment;
        request.terminalPath = terminal->slavePath;
        SpawnedProcess child = spawnProcess(request);
        terminal->slave.reset();
        const int master = terminal->master.get();
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) & ~O_NONBLOCK);
        int64_t bytes = 0;
        while (true) {
            const ssize_t count = ::read(master, buffer.data(), buffer.size());
            if (count > 0)
                bytes += count;
            else if (!(count < 0 && errno == EINTR))
                break;
        }
        siginfo_t info {};
        ::waitid(P_PIDFD, id_t(child.pidfd.get()), &info, WEXITED);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(state.iterations() * pipelineBytes);
}

} // namespace

BENCHMARK(bareTerminalReadLoop)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(handleCapture)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bareTerminalReadLoop)
    ->Name("bareTerminalReadLoop/again")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(handleCapture)->Name("handleCapture/again")->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QCoreApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
