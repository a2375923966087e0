// run-history.json at its largest: 20 services × 50 runs × 150000 characters of
// mixed output. Appending a run and loading the history, beside a plain atomic
// write and read of the same bytes, with the peak memory of an append; and
// closing a run whose output is 10 MB.
#include "BenchSupport.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/UserPerceivedText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

namespace {

constexpr int serviceCount = 20;

// Build logs with escapes, accents, CJK, emoji and terminal colour codes.
QString mixedOutput(qsizetype characters, int variant)
{
    const QString pattern =
        QStringLiteral("[%1] step \"compile\" \\ naïve café → 完成 ✓ 🚀\t\x1b[32mok\x1b[0m\r\n").arg(variant);
    QString text;
    text.reserve(characters * 2);
    while (text.size() < characters * 2)
        text += pattern;
    return UserPerceivedText::lastCharacters(text, characters);
}

const QList<QUuid> &services()
{
    static const QList<QUuid> ids = [] {
        QList<QUuid> result;
        for (int i = 0; i < serviceCount; ++i)
            result.append(QUuid::createUuid());
        return result;
    }();
    return ids;
}

// A full history file; every record holds its own copy of its output, as after a load.
const QList<ServiceRunRecord> &fullHistory()
{
    static const QList<ServiceRunRecord> list = [] {
        QList<ServiceRunRecord> result;
        for (int run = 0; run < ServiceRunHistoryRepository::maximumRecordsPerService; ++run) {
            for (int service = 0; service < serviceCount; ++service) {
                QString output = mixedOutput(ServiceRunRecord::maximumOutputCharacters, run * serviceCount + service);
                result.append(benchRunRecord(services()[service], 1'700'000'000 - run * 60 - service, output));
            }
        }
        return result;
    }();
    return list;
}

void writeFullHistory(const QString &file)
{
    ServiceRunHistoryRepository repository(file);
    repository.replaceAll(fullHistory()).waitForFinished();
}

// Waits in 5 ms slices rather than sleeping until the next event.
void runOnEventLoop(QCoro::Task<> task)
{
    run(std::move(task), QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// `cold`: the first write after start, which follows the load of the file;
// otherwise the repository splices the file it wrote itself.
void HistoryAppend(benchmark::State &state)
{
    const bool cold = state.range(0) == 1;
    const QString file = scratchPath("append.json");
    writeFullHistory(file);
    const qint64 fileSize = QFileInfo(file).size();
    auto repository = std::make_unique<ServiceRunHistoryRepository>(file);
    const ServiceRunRecord record =
        benchRunRecord(services().first(), 1'800'000'000, mixedOutput(ServiceRunRecord::maximumOutputCharacters, -1));
    if (!cold)
        repository->append(record).waitForFinished();
    double peakRatio = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            repository = std::make_unique<ServiceRunHistoryRepository>(file);
            repository->loadChecked().waitForFinished();
            state.ResumeTiming();
        }
        const qint64 before = statusKilobytes("VmRSS:");
        resetPeakMemory();
        repository->append(record).waitForFinished();
        const qint64 peak = statusKilobytes("VmHWM:");
        peakRatio = std::max(peakRatio, double(peak - before) * 1024 / double(fileSize));
    }
    state.counters["file_MB"] = double(fileSize) / 1e6;
    state.counters["peak_over_file"] = peakRatio;
    state.SetLabel(cold ? "first write after the load at start" : "file written by this repository");
}

// The whole list encoded and written, as after a redaction.
void HistorySave(benchmark::State &state)
{
    ServiceRunHistoryRepository repository(scratchPath("save.json"));
    for (auto _ : state)
        repository.replaceAll(fullHistory()).waitForFinished();
}

void PlainAtomicWrite(benchmark::State &state)
{
    const QString source = scratchPath("plain-source.json");
    writeFullHistory(source);
    QFile input(source);
    input.open(QIODevice::ReadOnly);
    const QByteArray bytes = input.readAll();
    for (auto _ : state) {
        QSaveFile file(scratchPath("plain.json"));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.commit();
    }
    state.counters["file_MB"] = double(bytes.size()) / 1e6;
}

void HistoryLoad(benchmark::State &state)
{
    const QString file = scratchPath("load.json");
    writeFullHistory(file);
    ServiceRunHistoryRepository repository(file);
    ServiceRunHistoryManager manager(repository);
    for (auto _ : state)
        runOnEventLoop(manager.loadHistory());
    state.counters["records"] = double(manager.records().size());
}

void PlainRead(benchmark::State &state)
{
    const QString file = scratchPath("read.json");
    writeFullHistory(file);
    for (auto _ : state) {
        QFile input(file);
        input.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(input.readAll().size());
    }
}

// Closing a run: the output cut and the insertion into a full list. The write
// it queues is drained outside the timing.
void FinishRunWith10MBOutput(benchmark::State &state)
{
    const bool ascii = state.range(0) == 0;
    const QString pattern = ascii ? QStringLiteral("2024-05-01 12:00:00 INFO request served in 3 ms\r\n")
                                  : QStringLiteral("构建完成 ✓ naïve 🚀 e\u0301 \x1b[0m\n");
    QString output;
    output.reserve(10'000'000 + pattern.size());
    while (output.size() < 10'000'000)
        output += pattern;

    ServiceRunHistoryRepository repository(scratchPath("finish.json"));
    ServiceRunHistoryManager manager(repository);
    for (const ServiceRunRecord &record : fullHistory())
        manager.insertRecord(record);
    const QUuid service = services().first();
    for (auto _ : state) {
        ActiveRunDraft draft;
        draft.id = QUuid::createUuid();
        draft.serviceId = service;
        draft.startedAt = QDateTime::currentDateTimeUtc();
        manager.setActiveDraft(draft);
        manager.finishRun(service, ServiceRunStopReason::exited, 0, output);
        state.PauseTiming();
        runOnEventLoop(manager.waitForPendingWrites());
        state.ResumeTiming();
    }
    state.SetLabel(ascii ? "ascii" : "mixed");
}

} // namespace

BENCHMARK(HistoryAppend)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(HistorySave)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(PlainAtomicWrite)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(HistoryLoad)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(FinishRunWith10MBOutput)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
