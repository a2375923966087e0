#include "BenchSupport.h"
#include "execution/CommandThreatScanner.h"

#include <QLoggingCategory>
#include <QString>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// An ordinary service command line of 80 characters.
const QString typicalCommand =
    QStringLiteral("cd ~/projects/api && PORT=3000 npm run dev -- --host 0.0.0.0 | tee -a ~/api.log ");

void assessTypical(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CommandThreatScanner::assess(typicalCommand));
    state.SetBytesProcessed(state.iterations() * typicalCommand.size() * 2);
}
BENCHMARK(assessTypical);

QString longCommand(qsizetype length)
{
    return repeatedTo(typicalCommand + QStringLiteral("; echo done\n"), length);
}

// A long script-like command; 10 KB to 1 MB show the cost grows linearly.
void assessLong(benchmark::State &state)
{
    const QString command = longCommand(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(CommandThreatScanner::assess(command));
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * command.size() * 2);
}
BENCHMARK(assessLong)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// The baseline: every pattern searched over the whole command, as the scan
// did before keywords narrowed its searches (the segment rules and the
// fingerprint left out).
void wholeTextSearchesBaseline(benchmark::State &state)
{
    const CommandThreatScanner::Patterns &patterns = CommandThreatScanner::patterns();
    std::vector<const CommandThreatPattern *> all(patterns.diskDestructive.begin(), patterns.diskDestructive.end());
    all.insert(all.end(), {patterns.remoteScriptPipe, patterns.credentialPath, patterns.networkTool});
    all.insert(all.end(), patterns.encodedExecution.begin(), patterns.encodedExecution.end());
    all.insert(all.end(), patterns.persistence.begin(), patterns.persistence.end());
    all.insert(all.end(), patterns.privileged.begin() + 1, patterns.privileged.end()); // the first is shared
    const QString command = longCommand(state.range(0));
    for (auto _ : state) {
        for (const CommandThreatPattern *pattern : all)
            benchmark::DoNotOptimize(pattern->isFoundIn(command));
    }
}
BENCHMARK(wholeTextSearchesBaseline)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

// The same with non-ASCII text, which takes the grapheme-cluster road.
void assessLongUnicode(benchmark::State &state)
{
    const QString command = repeatedTo(
        typicalCommand + QStringLiteral("; echo \u00e9t\u00e9 \u2713 \u65e5\u672c \U0001F680\n"), state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(CommandThreatScanner::assess(command));
}
BENCHMARK(assessLongUnicode)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Crafted 100 KB inputs that make individual patterns work hardest: the
// recursive-chown pattern backtracks quadratically and is stopped by the step
// budget; base64 and curl repeat their bounded windows at every occurrence,
// and with a pipe to a shell at the end their keywords no longer rule them out.
void assessCrafted(benchmark::State &state, const QString &command)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CommandThreatScanner::assess(command));
}
BENCHMARK_CAPTURE(assessCrafted, chownQuadratic,
                  QStringLiteral("chown -") + QString(100'000, QLatin1Char('R')) + QLatin1Char(';'))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(assessCrafted, base64Repeated, repeatedTo(QStringLiteral("base64 -d "), 100'000))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(assessCrafted, curlRepeated, repeatedTo(QStringLiteral("curl "), 100'000))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(assessCrafted, base64RepeatedPiped,
                  repeatedTo(QStringLiteral("base64 -d "), 100'000) + QStringLiteral("| sh"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(assessCrafted, curlRepeatedPiped,
                  repeatedTo(QStringLiteral("curl "), 100'000) + QStringLiteral("| sh"))
    ->Unit(benchmark::kMillisecond);

void fingerprintTypical(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CommandThreatScanner::fingerprint(typicalCommand));
}
BENCHMARK(fingerprintTypical);

} // namespace

int main(int argc, char **argv)
{
    // The crafted inputs trip the step budget on every run; one log line per
    // search would drown the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("com.tolvenix.Velmora.general=false"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
