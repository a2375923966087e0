// How long a stop takes from the call until its run is booked: a forced stop
// of a child that ends on SIGTERM, a plain stop of one that ends on SIGINT
// (its 1.5 s grace period included), and the quit with ten such services.
#include "execution/ServiceManager.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "profiles/SecretStoring.h"
#include "records/ApplicationSupport.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

namespace {

// A child that ends on the first signal of either kind of stop.
const QString command = QStringLiteral("exec sleep 600");

class NoSecrets final : public SecretStoring {
public:
    std::optional<QString> readSecret(const QString &) override { return std::nullopt; }
    void saveSecret(const QString &, const QString &) override {}
    void deleteSecret(const QString &) override {}
    QStringList allAccounts() override { return {}; }
};

void spinUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 1);
}

void run(QCoro::Task<> task)
{
    bool done = false;
    [](QCoro::Task<> inner, bool &finished) -> QCoro::Task<> {
        co_await std::move(inner);
        finished = true;
    }(std::move(task), done);
    spinUntil([&] { return done; });
}

// A service manager over stores in the scratch data folder.
struct Supervisor {
    const QString folder = applicationSupportDirectory();
    EnvironmentProfilesRepository profilesRepository {folder + QStringLiteral("/environments.json"),
                                                      std::make_shared<NoSecrets>()};
    ProtectedProfilesLockManager lockManager;
    EnvironmentProfilesManager profiles {profilesRepository, &lockManager};
    ServiceRunHistoryRepository historyRepository {folder + QStringLiteral("/run-history.json")};
    ServiceRunHistoryManager history {historyRepository};
    ServiceRepository repository {folder + QStringLiteral("/services.json")};
    SettingsBridge settings;
    std::unique_ptr<ServiceManager> manager;

    Supervisor()
    {
        settings.apply({QStringLiteral("/bin/sh"), AppAppearanceMode::system});
        manager = std::make_unique<ServiceManager>(repository, profiles, history, lockManager, settings.provider());
        run(manager->loadServices());
    }
    ~Supervisor()
    {
        manager.reset();
        run(history.waitForPendingWrites());
    }

    QUuid add(const QString &name)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const ManagedService service {QUuid::createUuid(), name, command, false, std::nullopt, now, now};
        run(manager->saveService(service));
        return service.id;
    }

    // Starts the service and waits until its shell has become the sleeping command.
    void start(const QUuid &id)
    {
        run(manager->start(id));
        const qint32 pid = manager->launchedHandles().value(id)->processIdentifier();
        const ProcFileSystem fileSystem = ProcFileSystem::system();
        spinUntil([&] {
            const auto stat = fileSystem.readProcessStat(pid);
            return !stat || stat->name == "sleep";
        });
    }
};

double milliseconds(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

void stopOne(benchmark::State &state, bool forced)
{
    Supervisor supervisor;
    const QUuid id = supervisor.add(QStringLiteral("server"));
    double worst = 0;
    for (auto _ : state) {
        supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        run(supervisor.manager->stop(id, forced));
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
        Supervisor supervisor;
        QList<QUuid> ids;
        for (int index = 0; index < 10; ++index)
            ids.append(supervisor.add(QStringLiteral("server %1").arg(index)));
        for (const QUuid &id : std::as_const(ids))
            supervisor.start(id);
        QElapsedTimer clock;
        clock.start();
        run(supervisor.manager->prepareForTermination());
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
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
