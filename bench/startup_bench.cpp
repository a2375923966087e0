// Start-up of the application shell in process (offscreen unless
// QT_QPA_PLATFORM says otherwise): from building the container to the main
// window's first paint, and to the end of the bootstrap, with an empty data
// folder and with 20 services × 50 runs × 150000 characters of history
// (~230 MB run-history.json); the worst stall of the main thread meanwhile.
// And the quit: from the confirmation to the moment the application may quit
// with 10 services running that end on SIGTERM.
#include "BenchSupport.h"
#include "app/AppDelegate.h"
#include "app/AppEnvironment.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "execution/ServiceManager.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryRepository.h"
#include "records/ServiceRunRecord.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

constexpr int serviceCount = 20;
constexpr int runsPerService = 50;

// Points the data folder at a scratch folder of its own for each fixture.
void useDataHome(const QString &name)
{
    const QString home = scratchFolder().path() + QLatin1Char('/') + name;
    QDir().mkpath(home);
    qputenv("XDG_DATA_HOME", QFile::encodeName(home));
}

QString outputOf(int characters, int variant)
{
    const QString line = QStringLiteral("[%1] compiling module → ok ✓ \x1b[32mdone\x1b[0m\n").arg(variant);
    return repeatedTo(line, characters);
}

void seedLargeFolder()
{
    const QString folder = AppEnvironment::applicationSupportDirectory();
    ServiceRepository services(folder + QStringLiteral("/services.json"));
    QList<ServiceRunRecord> history;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int s = 0; s < serviceCount; ++s) {
        ManagedService service {QUuid::createUuid(),
                                QStringLiteral("service %1").arg(s),
                                QStringLiteral("sleep 300"),
                                false,
                                std::nullopt,
                                now,
                                now};
        services.saveService(service).waitForFinished();
        for (int run = 0; run < runsPerService; ++run) {
            ServiceRunRecord record;
            record.id = QUuid::createUuid();
            record.serviceId = service.id;
            record.startedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000 - run * 60 - s, QTimeZone::utc());
            record.endedAt = record.startedAt.addSecs(30);
            record.stopReason = ServiceRunStopReason::exited;
            record.exitCode = 0;
            record.output = outputOf(150000, run * serviceCount + s);
            history.append(record);
        }
    }
    ServiceRunHistoryRepository(folder + QStringLiteral("/run-history.json")).replaceAll(history).waitForFinished();
}

// Notes the first paint of a widget.
class FirstPaint final : public QObject {
public:
    explicit FirstPaint(QElapsedTimer &clock)
        : m_clock(clock)
    {}
    qint64 elapsed = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && elapsed < 0)
            elapsed = m_clock.elapsed();
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer &m_clock;
};

// How late a 5 ms timer fires on the main thread, at worst.
class StallProbe final {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { worst = std::max(worst, m_since.restart() - 5); });
        m_since.start();
        m_timer.start();
    }
    qint64 worst = 0;

private:
    QTimer m_timer;
    QElapsedTimer m_since;
};

// Waits in 5 ms slices, so that the probes see the main thread as it goes.
void spinInSlices(const std::function<bool()> &done)
{
    spinUntil(done, QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

void StartUp(benchmark::State &state, bool large)
{
    useDataHome(large ? QStringLiteral("large") : QStringLiteral("empty"));
    if (large && !QFile::exists(AppEnvironment::applicationSupportDirectory() + QStringLiteral("/run-history.json")))
        seedLargeFolder();
    double paintTotal = 0, readyTotal = 0, stallWorst = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        StallProbe stall;
        auto app = AppEnvironment::live();
        MenuBarController menuBar;
        AppDelegate delegate(*app, menuBar);
        MainWindow window(*app, delegate);
        FirstPaint paint(clock);
        window.installEventFilter(&paint);
        window.show();
        spinInSlices([&] { return paint.elapsed >= 0 && app->isReady(); });
        const qint64 ready = clock.elapsed();
        state.SetIterationTime(double(ready) / 1000.0);
        paintTotal += double(paint.elapsed);
        readyTotal += double(ready);
        stallWorst = std::max(stallWorst, double(stall.worst));
        window.removeEventFilter(&paint);
    }
    const double iterations = double(state.iterations());
    state.counters["firstPaintMs"] = paintTotal / iterations;
    state.counters["readyMs"] = readyTotal / iterations;
    state.counters["worstStallMs"] = stallWorst;
}

void QuitWithTenRunningServices(benchmark::State &state)
{
    useDataHome(QStringLiteral("quit"));
    for (auto _ : state) {
        state.PauseTiming();
        auto app = AppEnvironment::live();
        bool ready = false;
        [](AppEnvironment &environment, bool &flag) -> QCoro::Task<> {
            co_await environment.bootstrap();
            flag = true;
        }(*app, ready);
        spinInSlices([&] { return ready; });
        app->setSettings({QStringLiteral("/bin/sh"), AppAppearanceMode::system});
        const QDateTime now = QDateTime::currentDateTimeUtc();
        int started = 0;
        for (int s = 0; s < 10; ++s) {
            ManagedService service {QUuid::createUuid(),
                                    QStringLiteral("sleeper %1").arg(s),
                                    QStringLiteral("sleep 300"),
                                    false,
                                    std::nullopt,
                                    now,
                                    now};
            [](AppEnvironment &environment, ManagedService value, int &count) -> QCoro::Task<> {
                co_await environment.serviceManager().saveService(value);
                co_await environment.serviceManager().start(value.id);
                ++count;
            }(*app, service, started);
        }
        spinInSlices([&] { return started == 10; });
        MenuBarController menuBar;
        AppDelegate delegate(*app, menuBar);
        menuBar.setAllowTermination();
        bool quit = false;
        QObject::connect(&delegate, &AppDelegate::quitRequested, [&] { quit = true; });
        state.ResumeTiming();

        delegate.startQuit();
        spinInSlices([&] { return quit; });
    }
}

} // namespace

BENCHMARK_CAPTURE(StartUp, emptyDataFolder, false)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(StartUp, largeHistory, true)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(QuitWithTenRunningServices)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // Everything goes to a scratch home, never the real one.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
