// 200 MB of line output from one service, through the bare process handle and
// through the whole service manager path (handle, hand-over, throttled runtime
// entry, run record on exit), in the same run. Beside each, a 10 ms timer on
// the main thread reports how late it fired at worst.
#include "execution/ProcessLauncher.h"
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
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

const QString pipeline = QStringLiteral("head -c 200000000 /dev/zero | tr '\\0' a | fold -w 100");
constexpr int64_t pipelineBytes = 202000000; // 200 MB of letters and a line feed every 100

// How late a 10 ms timer fires on the main thread while a run goes on.
class TimerLatency {
public:
    TimerLatency()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worstDelayNs = std::max(m_worstDelayNs, now - m_last - 10'000'000);
            m_last = now;
        });
        m_clock.start();
        m_last = m_clock.nsecsElapsed();
        m_timer.start();
    }
    double worstDelayMs() const { return double(m_worstDelayNs) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worstDelayNs = 0;
};

// No secrets are read here; the keyring stays untouched.
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
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void bareHandle(benchmark::State &state)
{
    double worstDelayMs = 0;
    for (auto _ : state) {
        ProcessLaunchConfiguration configuration;
        configuration.rawCommand = pipeline;
        configuration.useShell = true;
        configuration.shellPath = QStringLiteral("/bin/sh");
        configuration.usePseudoTerminal = true;
        TimerLatency latency;
        const auto handle = launchProcess(configuration);
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
    const QString folder = applicationSupportDirectory();
    EnvironmentProfilesRepository profilesRepository(folder + QStringLiteral("/environments.json"),
                                                     std::make_shared<NoSecrets>());
    ProtectedProfilesLockManager lockManager;
    EnvironmentProfilesManager profiles(profilesRepository, &lockManager);
    ServiceRunHistoryRepository historyRepository(folder + QStringLiteral("/run-history.json"));
    ServiceRunHistoryManager history(historyRepository);
    ServiceRepository repository(folder + QStringLiteral("/services.json"));
    SettingsBridge settings;
    settings.apply({QStringLiteral("/bin/sh"), AppAppearanceMode::system});
    ServiceManager manager(repository, profiles, history, lockManager, settings.provider());

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const ManagedService service {
        QUuid::createUuid(), QStringLiteral("flood"), pipeline, false, std::nullopt, now, now};
    bool saved = false;
    [](ServiceManager &target, ManagedService added, bool &done) -> QCoro::Task<> {
        co_await target.saveService(added);
        done = true;
    }(manager, service, saved);
    spinUntil([&] { return saved; });

    int entrySignals = 0;
    QObject::connect(&manager, &ServiceManager::runtimeEntryChanged, [&] { ++entrySignals; });
    double worstDelayMs = 0;
    for (auto _ : state) {
        TimerLatency latency;
        bool started = false;
        [](ServiceManager &target, QUuid id, bool &done) -> QCoro::Task<> {
            co_await target.start(id);
            done = true;
        }(manager, service.id, started);
        spinUntil([&] { return started && manager.launchedHandles().isEmpty() && !history.activeDraft(service.id); });
        worstDelayMs = std::max(worstDelayMs, latency.worstDelayMs());
    }
    bool drained = false;
    [](ServiceRunHistoryManager &target, bool &done) -> QCoro::Task<> {
        co_await target.waitForPendingWrites();
        done = true;
    }(history, drained);
    spinUntil([&] { return drained; });

    state.SetBytesProcessed(state.iterations() * pipelineBytes);
    state.counters["worstTimerDelayMs"] = worstDelayMs;
    state.counters["entrySignalsPerRun"] = double(entrySignals) / double(state.iterations());
    state.counters["recordedCharacters"] = double(history.records(service.id).value(0).output.size());
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
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    benchmark::Initialize(&argc, argv);
    QCoreApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
