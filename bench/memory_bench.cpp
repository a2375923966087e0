// The application's memory with a large run history (20 services × 50 runs ×
// 150000 characters, ~230 MB run-history.json): resident size once idle after
// start, the peak while a stopped service's run is written and while quitting
// with running services, and the resident size 10 s after that write. The
// history is written by a child process before this one builds anything, so
// the figures hold the application alone.
#include "BenchSupport.h"
#include "app/AppDelegate.h"
#include "app/AppEnvironment.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "execution/ServiceManager.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int serviceCount = 20;
constexpr int runsPerService = 50;

QString historyPath()
{
    return AppEnvironment::applicationSupportDirectory() + QStringLiteral("/run-history.json");
}

// Runs in a child process: nothing it allocates stays in the measured one.
void seedFolder(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QDir().mkpath(AppEnvironment::applicationSupportDirectory());
    QList<ServiceRunRecord> history;
    for (int service = 0; service < serviceCount; ++service) {
        const QUuid id = QUuid::createUuid();
        for (int run = 0; run < runsPerService; ++run) {
            const QString line =
                QStringLiteral("[%1] compiling module → ok ✓ \x1b[32mdone\x1b[0m\n").arg(run * serviceCount + service);
            history.append(benchRunRecord(id, 1'700'000'000 - run * 60 - service,
                                          repeatedTo(line, ServiceRunRecord::maximumOutputCharacters)));
        }
    }
    ServiceRunHistoryRepository(historyPath()).replaceAll(history).waitForFinished();
}

double statusMiB(const char *field)
{
    return double(statusKilobytes(field)) / 1024;
}

void spinFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    spinUntil([&] { return clock.elapsed() >= milliseconds; }, QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
              20);
}

void spinInSlices(const std::function<bool()> &done)
{
    spinUntil(done, QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

QList<ManagedService> startSleepers(AppEnvironment &app, int count)
{
    app.setSettings({QStringLiteral("/bin/sh"), AppAppearanceMode::system});
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<ManagedService> services;
    int started = 0;
    for (int index = 0; index < count; ++index) {
        services.append({QUuid::createUuid(), QStringLiteral("sleeper %1").arg(index), QStringLiteral("sleep 300"),
                         false, std::nullopt, now, now});
        [](AppEnvironment &environment, ManagedService value, int &done) -> QCoro::Task<> {
            co_await environment.serviceManager().saveService(value);
            co_await environment.serviceManager().start(value.id);
            ++done;
        }(app, services.constLast(), started);
    }
    spinInSlices([&] { return started == count; });
    return services;
}

void LargeHistory(benchmark::State &state)
{
    const double fileMiB = double(QFileInfo(historyPath()).size()) / (1024 * 1024);
    for (auto _ : state) {
        auto app = AppEnvironment::live();
        MenuBarController menuBar;
        AppDelegate delegate(*app, menuBar);
        MainWindow window(*app, delegate);
        window.show();
        spinInSlices([&] { return app->isReady() && !app->runHistoryManager().records().isEmpty(); });
        spinFor(2000);
        const double idle = statusMiB("VmRSS:");

        // One service stopped: its run goes into the large file.
        const QList<ManagedService> sleepers = startSleepers(*app, 11);
        const double beforeStop = statusMiB("VmRSS:");
        resetPeakMemory();
        run(app->serviceManager().stop(sleepers.first().id, true));
        run(app->runHistoryManager().waitForPendingWrites());
        const double stopPeak = statusMiB("VmHWM:");
        spinFor(10000);
        const double afterWrite = statusMiB("VmRSS:");

        // The quit stops the other ten and writes their runs at once.
        menuBar.setAllowTermination();
        bool quit = false;
        QObject::connect(&delegate, &AppDelegate::quitRequested, [&] { quit = true; });
        resetPeakMemory();
        const double beforeQuit = statusMiB("VmRSS:");
        delegate.startQuit();
        spinInSlices([&] { return quit; });
        const double quitPeak = statusMiB("VmHWM:");

        state.counters["file_MiB"] = fileMiB;
        state.counters["idle_rss_MiB"] = idle;
        state.counters["stop_peak_over_idle_per_file"] = (stopPeak - std::min(idle, beforeStop)) / fileMiB;
        state.counters["quit_peak_over_idle_per_file"] = (quitPeak - std::min(idle, beforeQuit)) / fileMiB;
        state.counters["rss_10s_after_write_over_idle_MiB"] = afterWrite - idle;
    }
    state.SetLabel("goals: idle_rss <= 90; peaks <= 2; after write <= 20");
}

} // namespace

BENCHMARK(LargeHistory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    const ScratchHome home; // never the real one
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const pid_t seeder = ::fork();
    if (seeder == 0) {
        seedFolder(argc, argv);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(seeder, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
