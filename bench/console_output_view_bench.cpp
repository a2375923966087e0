// The console view fed the way the runtime feeds it while a service prints
// 100-character lines at full speed: 20 updates a second, the text growing to
// 200,000 characters and cut back to its last 150,000 each time it passes
// that; at full output rate every update brings more than that, so each text
// is new from its first character. Per update, in CPU time of the main thread
// (the machine may be busy): the view's update plus the repaint it causes, on
// the append path and on the cut path, beside a whole-text reset of the same
// texts. The
// live run drives the real event loop (timers, scroll animation, paints) for a
// few seconds and reports the main thread's share of one core.
#include "records/OutputTextBuffer.h"
#include "ui/components/ConsoleOutputView.h"
#include "ui/components/TextStyle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <vector>

namespace {

constexpr qsizetype cutAbove = 200000;
constexpr qsizetype keep = 150000;
constexpr int updatesPerSecond = 20;

struct Step {
    QString text;
    qsizetype dropped = 0;
    bool cut = false;
};

QString outputLines(qint64 &lineNumber, qsizetype characters)
{
    QString chunk;
    chunk.reserve(characters + 100);
    while (chunk.size() < characters) {
        QString line = QStringLiteral("%1 worker[%2] GET /api/items?page=%3 200 ")
                           .arg(lineNumber, 8, 10, QLatin1Char('0'))
                           .arg(lineNumber % 16)
                           .arg(lineNumber % 997);
        line += QString(99 - line.size(), QLatin1Char('.'));
        chunk += line + QLatin1Char('\n');
        ++lineNumber;
    }
    return chunk;
}

// The runtime's texts in steady state (after the first cut), chunk by chunk.
std::vector<Step> steadyStream(qsizetype chunkCharacters, int steps, QString *start)
{
    OutputTextBuffer buffer(cutAbove, keep);
    qint64 lineNumber = 0;
    bool cutOnce = false;
    while (!cutOnce)
        cutOnce = buffer.append(outputLines(lineNumber, chunkCharacters));
    *start = buffer.text();
    std::vector<Step> stream;
    for (int i = 0; i < steps; ++i) {
        const QString before = buffer.text();
        const QString chunk = outputLines(lineNumber, chunkCharacters);
        const bool cut = buffer.append(chunk);
        Step step {buffer.text(), before.size() + chunk.size() - buffer.text().size(), cut};
        stream.push_back(std::move(step));
    }
    return stream;
}

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void reportPaths(benchmark::State &state, double appendMs, int appends, double cutMs, int cuts)
{
    const double perUpdate = (appendMs + cutMs) / std::max(1, appends + cuts);
    state.counters["append_ms"] = appends ? appendMs / appends : 0;
    state.counters["cut_ms"] = cuts ? cutMs / cuts : 0;
    state.counters["per_second_ms"] = perUpdate * updatesPerSecond;
    state.counters["core_pct"] = perUpdate * updatesPerSecond / 10.0;
}

// The view's own paths: it compares the runtime's whole text with its own, or
// (as the Services screen feeds it) is told how much was cut from the front.
void viewUpdates(benchmark::State &state, bool toldTheCut)
{
    QString start;
    const std::vector<Step> stream = steadyStream(state.range(0), 60, &start);
    ConsoleOutputView view;
    view.resize(900, 520);
    view.show();
    double appendMs = 0, cutMs = 0;
    int appends = 0, cuts = 0;
    for (auto _ : state) {
        view.setContent(QString(), true);
        view.setContent(start, true);
        view.repaint();
        double iterationMs = 0;
        for (const Step &step : stream) {
            const double began = threadCpuMs();
            if (toldTheCut)
                view.followOutput(step.text, step.dropped);
            else
                view.setContent(step.text, true);
            view.repaint();
            const double ms = threadCpuMs() - began;
            (step.cut ? cutMs : appendMs) += ms;
            ++(step.cut ? cuts : appends);
            iterationMs += ms;
        }
        state.SetIterationTime(iterationMs / 1000.0);
    }
    reportPaths(state, appendMs, appends, cutMs, cuts);
}

void ConsoleViewWholeTextUpdates(benchmark::State &state)
{
    viewUpdates(state, false);
}

void ConsoleViewToldTheCut(benchmark::State &state)
{
    viewUpdates(state, true);
}

// The baseline: the same texts set whole on an equally configured text view,
// then scrolled to the end.
void WholeTextResetBaseline(benchmark::State &state)
{
    QString start;
    const std::vector<Step> stream = steadyStream(state.range(0), 60, &start);
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit.setFont(monospacedFont(TextStyle::callout));
    edit.document()->setDocumentMargin(14);
    edit.document()->setUndoRedoEnabled(false);
    edit.resize(900, 520);
    edit.show();
    double appendMs = 0, cutMs = 0;
    int appends = 0, cuts = 0;
    for (auto _ : state) {
        edit.setPlainText(start);
        for (const Step &step : stream) {
            const double began = threadCpuMs();
            edit.setPlainText(step.text);
            edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
            edit.repaint();
            const double ms = threadCpuMs() - began;
            (step.cut ? cutMs : appendMs) += ms;
            ++(step.cut ? cuts : appends);
        }
    }
    reportPaths(state, appendMs, appends, cutMs, cuts);
}

// Real time: a 50 ms timer publishes the runtime's text, the view follows with
// its scroll animation, the event loop paints. Main-thread CPU over wall time.
void LiveStreamCoreShare(benchmark::State &state)
{
    const qsizetype chunk = state.range(0);
    const bool baseline = state.range(1) == 1;
    const bool follow = state.range(1) != 2;
    for (auto _ : state) {
        ConsoleOutputView view;
        QPlainTextEdit edit;
        for (QWidget *w : {static_cast<QWidget *>(&view), static_cast<QWidget *>(&edit)})
            w->resize(900, 520);
        edit.setFont(monospacedFont(TextStyle::callout));
        edit.document()->setUndoRedoEnabled(false);
        (baseline ? static_cast<QWidget &>(edit) : static_cast<QWidget &>(view)).show();
        OutputTextBuffer buffer(cutAbove, keep);
        qint64 lineNumber = 0;
        while (!buffer.append(outputLines(lineNumber, chunk))) {}
        QTimer feed;
        feed.setInterval(1000 / updatesPerSecond);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            buffer.append(outputLines(lineNumber, chunk));
            if (baseline) {
                edit.setPlainText(buffer.text());
                edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
            } else {
                view.setContent(buffer.text(), follow);
            }
        });
        QElapsedTimer wall;
        wall.start();
        const double cpuStart = threadCpuMs();
        feed.start();
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        feed.stop();
        const double cpu = threadCpuMs() - cpuStart;
        state.counters["core_pct"] = 100.0 * cpu / double(wall.elapsed());
        state.counters["updates"] = 3.0 * updatesPerSecond;
    }
}

} // namespace

BENCHMARK(ConsoleViewWholeTextUpdates)
    ->Arg(10000)
    ->Arg(25000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(ConsoleViewToldTheCut)->Arg(10000)->Arg(25000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(WholeTextResetBaseline)->Arg(10000)->Arg(25000)->Unit(benchmark::kMillisecond)->Iterations(3);
// Full output rate: every update brings more than the cut keeps, so each
// published text is new from its first character.
BENCHMARK(ConsoleViewToldTheCut)
    ->Name("ConsoleViewFlood")
    ->Arg(2'500'000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(WholeTextResetBaseline)
    ->Name("WholeTextResetBaselineFlood")
    ->Arg(2'500'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(LiveStreamCoreShare)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({10000, 2})
    ->Args({25000, 0})
    ->Args({25000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
