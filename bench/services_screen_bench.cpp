// The Services screen with 500 services, 100 of them running real children and
// one selected, offscreen. Measures the main-thread time of one runtime tick
// (a process collection that changes every running entry, then the repaint)
// and of one search keystroke (filter, score, sort and repaint), and reports
// whether the list kept its scroll value and selection across the ticks.
#include "BenchSupport.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int serviceCount = 500;
constexpr int runningCount = 100;

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The whole screen over real managers in a scratch data folder.
struct Screen : Supervisor {
    std::unique_ptr<ServicesView> view;
    QList<QUuid> runningIds;

    Screen()
    {
        for (int i = 0; i < serviceCount; ++i) {
            const bool runs = i % (serviceCount / runningCount) == 0;
            const ManagedService service = add(
                QStringLiteral("%1 service %2").arg(i % 2 ? QStringLiteral("worker") : QStringLiteral("api")).arg(i),
                runs ? QStringLiteral("exec sleep 600") : QStringLiteral("echo %1").arg(i));
            if (runs)
                runningIds.append(service.id);
        }
        for (const QUuid &id : std::as_const(runningIds))
            run(manager.start(id));
        view = std::make_unique<ServicesView>(manager, profiles, lockManager, history);
        view->resize(1180, 760);
        view->show();
        view->selectService(runningIds.at(runningIds.size() / 2));
        settle();
    }

    ~Screen()
    {
        view.reset();
        killAll();
    }

    QListView *list() const { return view->findChild<QListView *>(QStringLiteral("serviceList")); }

    // One process collection in which every running child's figures changed.
    QList<ProcessSnapshot> snapshots(int tick) const
    {
        QList<ProcessSnapshot> result;
        for (const QUuid &id : runningIds) {
            const ServiceRuntimeInfo entry = manager.runtime().value(id);
            if (!entry.pid)
                continue;
            ProcessSnapshot snapshot;
            snapshot.pid = *entry.pid;
            snapshot.cpuPercent = (tick % 7) * 1.5;
            snapshot.memoryBytes = 1'000'000 + quint64(tick) * 4096;
            snapshot.startTime = QDateTime::currentDateTimeUtc().addSecs(-60);
            result.append(snapshot);
        }
        return result;
    }
};

Screen *screen = nullptr;

void runtimeTick(benchmark::State &state)
{
    QListView *list = screen->list();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
    settle();
    const int scrollBefore = list->verticalScrollBar()->value();
    const std::optional<QUuid> selectedBefore = screen->view->controller().selectedServiceID();
    int tick = 0;
    qint64 managerNs = 0;
    for (auto _ : state) {
        const QList<ProcessSnapshot> collection = screen->snapshots(++tick);
        QElapsedTimer timer;
        timer.start();
        // The manager's own bookkeeping, with the screen's reactions to its signals...
        screen->manager.applyProcessSnapshots(collection);
        managerNs += timer.nsecsElapsed();
        // ...then the repaint of what changed.
        QCoreApplication::processEvents();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["signalsAndModelMs"] = double(managerNs) / 1e6 / double(state.iterations());
    state.counters["scrollKept"] = list->verticalScrollBar()->value() == scrollBefore ? 1 : 0;
    state.counters["selectionKept"] = screen->view->controller().selectedServiceID() == selectedBefore ? 1 : 0;
}

void searchKeystroke(benchmark::State &state)
{
    const QString word = QStringLiteral("worker 4");
    ServicesController &controller = screen->view->controller();
    qsizetype typed = 0;
    for (auto _ : state) {
        typed = typed % word.size() + 1;
        QElapsedTimer timer;
        timer.start();
        controller.setSearchText(word.left(typed));
        QCoreApplication::processEvents();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    controller.setSearchText(QString());
}

} // namespace

BENCHMARK(runtimeTick)->Iterations(60)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(searchKeystroke)->Iterations(80)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char **argv)
{
    // The data folder goes to a scratch home, never the real one.
    const ScratchHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    {
        Screen services;
        screen = &services;
        benchmark::RunSpecifiedBenchmarks();
        screen = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
