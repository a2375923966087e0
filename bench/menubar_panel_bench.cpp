// The tray panel open over 50 running services while their figures change
// every tick: main-thread time per tick (the service manager applying one
// round of process snapshots, the panel updating its rows and header, and the
// paints that follow), and how many service rows repaint per tick.
#include "execution/ServiceManager.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "profiles/SecretStoring.h"
#include "records/ApplicationSupport.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuServiceRow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <csignal>

namespace {

constexpr int serviceCount = 50;

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
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

// Counts paints of the service rows (and everything inside them).
class RowPaintCounter : public QObject {
public:
    int paints = 0;
    QSet<QObject *> paintedRows;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            for (QObject *object = watched; object; object = object->parent()) {
                if (qobject_cast<MenuServiceRow *>(object)) {
                    ++paints;
                    paintedRows.insert(object);
                    break;
                }
            }
        }
        return false;
    }
};

void panelTick(benchmark::State &state)
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

    for (int index = 0; index < serviceCount; ++index) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const ManagedService service {QUuid::createUuid(),
                                      QStringLiteral("service %1").arg(index, 2, 10, QLatin1Char('0')),
                                      QStringLiteral("sleep 600"),
                                      false,
                                      std::nullopt,
                                      now,
                                      now};
        bool started = false;
        [](ServiceManager &target, ManagedService added, bool &done) -> QCoro::Task<> {
            co_await target.saveService(added);
            co_await target.start(added.id);
            done = true;
        }(manager, service, started);
        spinUntil([&] { return started; });
    }

    MenuBarStatusView view(&manager, &profiles, &lockManager, nullptr, {}, {}, true);
    view.show();
    RowPaintCounter counter;
    for (MenuServiceRow *row : view.rows()) {
        row->installEventFilter(&counter);
        for (QObject *child : row->findChildren<QObject *>())
            child->installEventFilter(&counter);
    }
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    const QDateTime startTime = QDateTime::currentDateTimeUtc().addSecs(-60);
    int tick = 0;
    int rowsRepainted = 0;
    for (auto _ : state) {
        ++tick;
        // Every second tick only the first service's load moves; otherwise all do.
        QList<ProcessSnapshot> snapshots;
        for (const auto &entry : manager.runtime()) {
            if (!entry.pid)
                continue;
            const bool moves = tick % 2 == 1 || snapshots.isEmpty();
            snapshots.append({*entry.pid, std::nullopt, moves ? double(tick % 100) : entry.cpuPercent,
                              entry.memoryBytes + (moves ? 4096 : 0), startTime});
        }
        counter.paintedRows.clear();
        clock.restart();
        manager.applyProcessSnapshots(snapshots);
        QCoreApplication::processEvents();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        rowsRepainted += int(counter.paintedRows.size());
    }
    state.counters["rowsShown"] = double(view.rows().size());
    state.counters["rowsRepaintedPerTick"] = double(rowsRepainted) / double(state.iterations());

    for (const auto &handle : manager.launchedHandles())
        handle->signalProcessGroup(SIGKILL);
    bool stopped = false;
    [](ServiceManager &target, bool &done) -> QCoro::Task<> {
        co_await target.stopAll(true);
        done = true;
    }(manager, stopped);
    spinUntil([&] { return stopped; });
}

} // namespace

BENCHMARK(panelTick)->Iterations(200)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
