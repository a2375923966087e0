// The tray panel open over 50 running services while their figures change
// every tick: main-thread time per tick (the service manager applying one
// round of process snapshots, the panel updating its rows and header, and the
// paints that follow), and how many service rows repaint per tick.
#include "BenchSupport.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuServiceRow.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

constexpr int serviceCount = 50;

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
    Supervisor supervisor;
    ServiceManager &manager = supervisor.manager;
    for (int index = 0; index < serviceCount; ++index) {
        const ManagedService service = supervisor.add(QStringLiteral("service %1").arg(index, 2, 10, QLatin1Char('0')),
                                                      QStringLiteral("sleep 600"));
        run(manager.start(service.id));
    }

    MenuBarStatusView view(&manager, &supervisor.profiles, &supervisor.lockManager, nullptr, true);
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
    supervisor.killAll();
}

} // namespace

BENCHMARK(panelTick)->Iterations(200)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one.
    const ScratchHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
