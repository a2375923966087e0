// Saving and loading a ~150 MB list through JSONFileStore, beside a plain
// QSaveFile write and QFile read of the same bytes.
#include "BenchSupport.h"
#include "records/JSONFileStore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

struct BenchRecord {
    QUuid id;
    QString output;

    static BenchRecord fromJson(const json::Value &value)
    {
        const json::ObjectReader reader(value, "BenchRecord");
        return {reader.uuid("id"), reader.string("output")};
    }
    json::Value toJson(json::Allocator &allocator) const
    {
        return json::ObjectWriter(allocator).set("id", id).set("output", output).take();
    }
};

QString mixedText(qsizetype characters)
{
    const QString pattern = QStringLiteral("build step 42: \"ok\" \\ naïve café → 完成 ✓\tdone\n");
    return repeatedTo(pattern, characters);
}

const QList<BenchRecord> &records()
{
    static const QList<BenchRecord> list = [] {
        QList<BenchRecord> result;
        const QString output = mixedText(150'000);
        for (int i = 0; i < 1000; ++i)
            result.append({QUuid::createUuid(), output});
        return result;
    }();
    return list;
}

void StoreSave(benchmark::State &state)
{
    JSONFileStore<QList<BenchRecord>> store(scratchPath("store.json"));
    for (auto _ : state)
        store.save(records());
    state.SetBytesProcessed(state.iterations() * QFileInfo(scratchPath("store.json")).size());
}

void StoreLoad(benchmark::State &state)
{
    JSONFileStore<QList<BenchRecord>> store(scratchPath("store.json"));
    store.save(records());
    for (auto _ : state)
        benchmark::DoNotOptimize(store.load({}).size());
    state.SetBytesProcessed(state.iterations() * QFileInfo(scratchPath("store.json")).size());
}

void PlainSave(benchmark::State &state)
{
    const QByteArray bytes = encodePrettyJson(records());
    for (auto _ : state) {
        QSaveFile file(scratchPath("plain.json"));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.commit();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void PlainLoad(benchmark::State &state)
{
    JSONFileStore<QList<BenchRecord>> store(scratchPath("plain-source.json"));
    store.save(records());
    for (auto _ : state) {
        QFile file(scratchPath("plain-source.json"));
        file.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(file.readAll().size());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(scratchPath("plain-source.json")).size());
}

} // namespace

BENCHMARK(StoreSave)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(PlainSave)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(StoreLoad)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(PlainLoad)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_MAIN();
