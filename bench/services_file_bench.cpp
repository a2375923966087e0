// services.json of ~150 MB (1500 services with shell commands of ~94 KB): loading
// it, saving the whole list, and editing one service as the service catalog
// does (save, then reload), beside a plain read and a plain write + fdatasync
// of the same bytes measured in the same run. The ratios are printed last.
#include "BenchSupport.h"
#include "records/JSONFileStore.h"
#include "records/PersistedManagedServiceRecord.h"
#include "records/ServiceRepository.h"

#include <QFile>
#include <QMap>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int serviceCount = 1500;
constexpr qsizetype commandLength = 94'000;

const QList<ManagedService> &services()
{
    static const QList<ManagedService> list = [] {
        const QString piece =
            QStringLiteral("cd \"/srv/app-%1\" && FOO='build' ./run --flag=\\\"x\\\" --out=/var/log/app | tee -a log; "
                           "make -j8 all && ./deploy --target=prod-%1 --retries=3; echo 'naïve café ✓'; ");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<ManagedService> result;
        for (int index = 0; index < serviceCount; ++index) {
            const QString command = repeatedTo(piece.arg(index), commandLength);
            result.append({QUuid::createUuid(), QStringLiteral("service %1").arg(index), command, index % 2 == 0,
                           std::nullopt, now, now});
        }
        return result;
    }();
    return list;
}

QList<PersistedManagedServiceRecord> records()
{
    QList<PersistedManagedServiceRecord> result;
    for (const ManagedService &service : services())
        result.append(PersistedManagedServiceRecord::clear(service));
    return result;
}

QString servicesPath()
{
    return scratchPath("services.json");
}

// Writes the file once for the whole program. Every benchmark starts with
// nothing left to write back, so none pays for an earlier one's writes.
void seedFile()
{
    static const bool seeded = [] {
        JSONFileStore<QList<PersistedManagedServiceRecord>>(servicesPath()).save(records());
        return true;
    }();
    (void)seeded;
    ::sync();
}

QByteArray fileBytes()
{
    QFile file(servicesPath());
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Mean seconds per iteration of each benchmark, for the ratios at the end.
QMap<QString, double> &means()
{
    static QMap<QString, double> values;
    return values;
}

// Times `action` alone: what it returns is freed after the clock stops, as the
// program keeps what it loads.
template <typename Action>
void timeEach(benchmark::State &state, const char *name, Action action)
{
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto kept = action();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(kept);
        state.SetIterationTime(elapsed.count());
        total += elapsed.count();
    }
    means()[QString::fromLatin1(name)] = total / double(state.iterations());
    state.SetBytesProcessed(state.iterations() * QFileInfo(servicesPath()).size());
}

void PlainRead(benchmark::State &state)
{
    seedFile();
    timeEach(state, "read", [] {
        const int fd = ::open(QFile::encodeName(servicesPath()).constData(), O_RDONLY | O_CLOEXEC);
        QByteArray bytes(QFileInfo(servicesPath()).size(), Qt::Uninitialized);
        qsizetype size = 0;
        while (size < bytes.size()) {
            const ssize_t count = ::read(fd, bytes.data() + size, static_cast<size_t>(bytes.size() - size));
            if (count <= 0)
                break;
            size += count;
        }
        ::close(fd);
        bytes.truncate(size);
        return bytes;
    });
}

void PlainWriteAndSync(benchmark::State &state)
{
    seedFile();
    const QByteArray bytes = fileBytes();
    const QByteArray path = QFile::encodeName(scratchPath("plain.json"));
    timeEach(state, "write", [&] {
        ::unlink(path.constData());
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        qsizetype written = 0;
        while (written < bytes.size()) {
            const ssize_t count = ::write(fd, bytes.data() + written, static_cast<size_t>(bytes.size() - written));
            if (count <= 0)
                break;
            written += count;
        }
        ::fdatasync(fd);
        return ::close(fd);
    });
}

void Load(benchmark::State &state)
{
    seedFile();
    timeEach(state, "load", [] {
        auto repository = std::make_unique<ServiceRepository>(servicesPath());
        LoadedServices loaded = repository->loadServices().result();
        return std::make_pair(std::move(repository), std::move(loaded));
    });
}

void SaveWholeList(benchmark::State &state)
{
    seedFile();
    const QList<PersistedManagedServiceRecord> list = records();
    JSONFileStore<QList<PersistedManagedServiceRecord>> store(scratchPath("whole-list.json"));
    timeEach(state, "save", [&] {
        store.save(list);
        return 0;
    });
}

// One service changed and the list loaded again, as the service catalog does.
void editOne(ServiceRepository &repository, int round)
{
    ManagedService edited = services().at(round * 7 % serviceCount);
    edited.command = QStringLiteral("sleep %1").arg(round);
    repository.saveService(edited).waitForFinished();
    benchmark::DoNotOptimize(repository.loadServices().result().services.size());
}

void EditOneService(benchmark::State &state)
{
    seedFile();
    ServiceRepository repository(servicesPath());
    repository.loadServices().waitForFinished();
    editOne(repository, 0); // the first edit after start is measured below
    int round = 1;
    timeEach(state, "edit", [&] {
        editOne(repository, round++);
        return 0;
    });
}

void FirstEditAfterLoad(benchmark::State &state)
{
    seedFile();
    int round = 0;
    std::optional<ServiceRepository> repository;
    double total = 0;
    for (auto _ : state) {
        repository.emplace(servicesPath());
        repository->loadServices().waitForFinished();
        const auto start = std::chrono::steady_clock::now();
        editOne(*repository, round++);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        total += elapsed.count();
    }
    means()[QStringLiteral("first edit")] = total / double(state.iterations());
}

void printRatios()
{
    const QMap<QString, double> &m = means();
    const auto line = [&](const char *what, const char *measured, const char *baseline, double goal) {
        if (!m.contains(QString::fromLatin1(measured)) || !m.contains(QString::fromLatin1(baseline)))
            return;
        const double ratio = m.value(QString::fromLatin1(measured)) / m.value(QString::fromLatin1(baseline));
        std::printf("%-44s %7.1f ms / %7.1f ms = %.2f× (goal ≤ %.0f×)\n", what,
                    1e3 * m.value(QString::fromLatin1(measured)), 1e3 * m.value(QString::fromLatin1(baseline)), ratio,
                    goal);
    };
    std::printf("\nFile: %.1f MB\n", double(QFileInfo(servicesPath()).size()) / 1e6);
    line("load / plain read", "load", "read", 3);
    line("whole-list save / plain write + fdatasync", "save", "write", 2);
    line("edit + reload / plain write + fdatasync", "edit", "write", 2);
    line("first edit after load / plain write + fdatasync", "first edit", "write", 2);
}

} // namespace

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(PlainWriteAndSync)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(Load)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(SaveWholeList)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(EditOneService)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(FirstEditAfterLoad)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    return 0;
}
