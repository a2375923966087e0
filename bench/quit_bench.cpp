// A quit (every service force-stopped, then the wait for the run history's
// writes, as the application quits) with N running services over a history
// loaded at start. Beside it, in the same run, a plain copy of the same file
// with fdatasync: the cost of writing those bytes once. Each quit runs as the
// machine is and again with 1,000 extra idle processes on it.
//
// The large history is 20 services × 50 runs of about 55000 characters of
// mixed output (≈ 80 MB here, to keep the run short); the goal scales with the
// file, as the baseline does.
#include "BenchSupport.h"
#include "records/ServiceRunHistoryRepository.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <algorithm>

#include <unistd.h>

namespace {

constexpr int historyServices = 20;
constexpr qsizetype outputCharacters = 55'000;

QString mixedOutput(int variant)
{
    const QString pattern =
        QStringLiteral("[%1] step \"compile\" \\ naïve café → 完成 ✓ 🚀\t\x1b[32mok\x1b[0m\r\n").arg(variant);
    return repeatedTo(pattern, outputCharacters);
}

// The history file, made once per program and copied into each quit's data folder.
const QString &historyTemplate(bool large)
{
    static const QString empty = [] {
        const QString path = scratchPath("empty-history.json");
        ServiceRunHistoryRepository(path).replaceAll({}).waitForFinished();
        return path;
    }();
    static const QString full = [] {
        const QString path = scratchPath("large-history.json");
        QList<ServiceRunRecord> records;
        for (int service = 0; service < historyServices; ++service) {
            const QUuid id = QUuid::createUuid();
            for (int runIndex = 0; runIndex < ServiceRunHistoryRepository::maximumRecordsPerService; ++runIndex)
                records.append(
                    benchRunRecord(id, 1'700'000'000 - runIndex * 60, mixedOutput(service * 100 + runIndex)));
        }
        ServiceRunHistoryRepository(path).replaceAll(records).waitForFinished();
        return path;
    }();
    return large ? full : empty;
}

void copyWithFdatasync(const QString &from, const QString &to)
{
    QFile input(from);
    QFile output(to);
    if (!input.open(QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QByteArray buffer(4 << 20, Qt::Uninitialized);
    for (qint64 read = input.read(buffer.data(), buffer.size()); read > 0;
         read = input.read(buffer.data(), buffer.size()))
        output.write(buffer.constData(), read);
    output.flush();
    ::fdatasync(output.handle());
}

int recordedRuns(const QString &historyPath, const QList<ManagedService> &services)
{
    const QList<ServiceRunRecord> stored = ServiceRunHistoryRepository(historyPath).load().result();
    int found = 0;
    for (const ManagedService &service : services) {
        found += int(std::count_if(stored.cbegin(), stored.cend(),
                                   [&](const ServiceRunRecord &run) { return run.serviceId == service.id; }));
    }
    return found;
}

// range(0): running services; range(1): 1 for the large history, 0 for an
// empty one; range(2): extra idle processes on the machine.
void Quit(benchmark::State &state)
{
    const int running = int(state.range(0));
    const bool large = state.range(1) == 1;
    const IdleProcesses busy(int(state.range(2)));
    double copyMs = 0;
    int recorded = 0;
    qint64 fileSize = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString historyPath = applicationSupportDirectory() + QStringLiteral("/run-history.json");
        QFile::remove(historyPath);
        QFile::remove(applicationSupportDirectory() + QStringLiteral("/services.json"));
        QFile::copy(historyTemplate(large), historyPath);
        fileSize = QFileInfo(historyPath).size();
        QList<ManagedService> services;
        {
            Supervisor supervisor;
            run(supervisor.history.loadHistory());
            for (int index = 0; index < running; ++index) {
                services.append(supervisor.add(QStringLiteral("svc%1").arg(index), QStringLiteral("exec sleep 600")));
                run(supervisor.manager.start(services.constLast().id));
            }
            ::sync();
            state.ResumeTiming();

            run(supervisor.manager.prepareForTermination());

            state.PauseTiming();
        }
        recorded = recordedRuns(historyPath, services);

        const QString copyPath = scratchPath("copy.json");
        QElapsedTimer copyTimer;
        copyTimer.start();
        copyWithFdatasync(historyPath, copyPath);
        copyMs += double(copyTimer.nsecsElapsed()) / 1e6;
        QFile::remove(copyPath);
        state.ResumeTiming();
    }
    state.counters["file_MB"] = double(fileSize) / 1e6;
    const double meanCopyMs = copyMs / double(state.iterations());
    state.counters["copy_fdatasync_ms"] = meanCopyMs;
    // What a quit may take: 1.5 times the copy plus 100 ms, or 200 ms without a history.
    state.counters["goal_ms"] = large ? 1.5 * meanCopyMs + 100 : 200;
    state.counters["runs_recorded"] = recorded;
    state.counters["extra_processes"] = busy.count();
    state.SetLabel(large ? "large history" : "empty history");
}

} // namespace

BENCHMARK(Quit)
    ->Args({20, 1, 0})
    ->Args({20, 1, 1000})
    ->Args({10, 0, 0})
    ->Args({10, 0, 1000})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    // The data folder and the terminal folders go to a scratch home, never the real one.
    const ScratchHome home;
    benchmark::Initialize(&argc, argv);
    QCoreApplication application(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
