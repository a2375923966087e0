// The cost of the output text cut: lastCharacters should cost in proportion to
// the characters kept, not to the length of the text, and appending to an
// OutputTextBuffer should cost in proportion to the chunk.
#include "BenchSupport.h"
#include "records/OutputTextBuffer.h"
#include "records/UserPerceivedText.h"

#include <benchmark/benchmark.h>

namespace {

QString plainLines(qsizetype units)
{
    return repeatedTo(QString(99, QLatin1Char('a')) + QLatin1Char('\n'), units);
}

QString mixedLines(qsizetype units)
{
    const QString line = QStringLiteral("résumé 👨‍👩‍👧 🇩🇪🇫🇷 e\u0301 日本語 done\r\n");
    QString text;
    text.reserve(units + line.size());
    while (text.size() < units)
        text += line;
    return text;
}

void lastCharactersOfPlainText(benchmark::State &state)
{
    const QString text = plainLines(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(UserPerceivedText::lastCharacters(text, 150000));
}

void lastCharactersOfMixedText(benchmark::State &state)
{
    const QString text = mixedLines(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(UserPerceivedText::lastCharacters(text, 150000));
}

void appendChunks(benchmark::State &state, const QString &chunk)
{
    OutputTextBuffer buffer(200000, 150000);
    for (auto _ : state)
        buffer.append(chunk);
    state.SetBytesProcessed(state.iterations() * chunk.size() * qsizetype(sizeof(QChar)));
}

void appendPlainChunks(benchmark::State &state)
{
    appendChunks(state, plainLines(4096));
}

void appendMixedChunks(benchmark::State &state)
{
    appendChunks(state, mixedLines(4096));
}

// What the main thread does with each hand-over of a child's output at full
// rate: text that overran the reader's own cut starts the buffer over
// (argument 0), text that continues it is appended and cut (argument 1).
void handOverAtFullRate(benchmark::State &state)
{
    const bool continues = state.range(0) != 0;
    const QString chunk = plainLines(continues ? 100000 : 190000);
    OutputTextBuffer buffer(200000, 150000);
    buffer.append(plainLines(150000));
    for (auto _ : state) {
        if (!continues)
            buffer.clear();
        buffer.append(chunk);
        benchmark::DoNotOptimize(buffer.text());
    }
    state.SetBytesProcessed(state.iterations() * chunk.size() * qsizetype(sizeof(QChar)));
}

} // namespace

BENCHMARK(handOverAtFullRate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(lastCharactersOfPlainText)->Arg(200000)->Arg(2000000)->Arg(20000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(lastCharactersOfMixedText)->Arg(200000)->Arg(2000000)->Arg(20000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(appendPlainChunks);
BENCHMARK(appendMixedChunks);

BENCHMARK_MAIN();
