#include "ui/components/DisplayFormatting.h"
#include "ui/components/ElidedLineCache.h"
#include "ui/components/NameRule.h"
#include "ui/components/TextStyle.h"
#include "ui/components/SearchRelevance.h"

#include "QtPrinters.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(NameRule, ControlCharactersAreRefusedAndEveryPrintableTextKept)
{
    const struct {
        QString name;
        bool refused;
    } cases[] = {
        {QStringLiteral("api\tserver"), true},
        {QStringLiteral("api\nserver"), true},
        {QStringLiteral("api\r"), true},
        {QStringLiteral("\u001b[31mred"), true},
        {QString(QChar(0)) + QStringLiteral("x"), true},
        {QStringLiteral("del\u007f"), true},
        {QStringLiteral("next\u0085line"), true},
        {QStringLiteral("🚀 api server"), false},
        {QStringLiteral("👩‍💻 dev"), false}, // joined by a zero-width joiner (a format character)
        {QStringLiteral("naïve café 名前"), false},
        {QStringLiteral("  spaced  "), false},
        {QStringLiteral("line\u2028separator"), true},
        {QStringLiteral("paragraph\u2029separator"), true},
        {QString(), false},
    };
    for (const auto &[name, refused] : cases) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(NameRule::hasControlCharacters(name), refused);
    }
    // A name stored before separators were refused still shows on one line.
    EXPECT_EQ(NameRule::oneLine(QStringLiteral("web\u2028api\u2029db")), QStringLiteral("web api db"));
    EXPECT_EQ(NameRule::oneLine(QStringLiteral("👩‍💻 dev")), QStringLiteral("👩‍💻 dev"));
}

TEST(TabularDigits, FiguresKeepTheirWidthInEveryStyle)
{
    for (const TextStyle style : {TextStyle::title, TextStyle::title2, TextStyle::callout, TextStyle::caption}) {
        const QFont font = tabularDigitsFont(textStyleFont(style, QFont::DemiBold));
        EXPECT_TRUE(hasTabularDigits(font)) << font.family().toStdString();
        EXPECT_EQ(font.weight(), QFont::DemiBold);
        EXPECT_NEAR(QFontInfo(font).pixelSize(), QFontInfo(textStyleFont(style)).pixelSize(), 1);
    }
}

// However long a spaced name, the alert keeps the words around it and its buttons on the screen; lines count as
// they wrap, and a short message stays whole.
TEST(FitForAlert, AnyMessageFitsTwelveLinesAndKeepsItsEnds)
{
    const QString fitted =
        fitForAlert(QStringLiteral("Delete “%1”? Gone for good.").arg(QStringLiteral("word ").repeated(3000)));
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("Delete “word"))
                && fitted.endsWith(QStringLiteral("”? Gone for good.")));
    EXPECT_LE(QFontMetrics(QGuiApplication::font()).horizontalAdvance(fitted), 12 * 400);

    const QString longLine = QStringLiteral("a line of words long enough to wrap in an alert ").repeated(3);
    const QString lines = fitForAlert(QStringLiteral("First words.\n\n") + (longLine + u'\n').repeated(10)
                                      + QStringLiteral("Last words."));
    EXPECT_TRUE(lines.startsWith(QStringLiteral("First words.\n\na line"))
                && lines.endsWith(QStringLiteral("\nLast words.")));
    const QFontMetrics metrics(QGuiApplication::font());
    EXPECT_LE(metrics.boundingRect(QRect(0, 0, 400, 100000), Qt::TextWordWrap, lines).height(),
              12 * metrics.lineSpacing());
    const QString few = QStringLiteral("First words.\n\n") + longLine + QStringLiteral("\nLast words.");
    EXPECT_EQ(fitForAlert(few), few);
}

TEST(FormatDuration, UnitBoundaries)
{
    const struct {
        std::optional<double> seconds;
        const char *expected;
    } cases[] = {
        {std::nullopt, "Unavailable"},
        {0, "0s"},
        {0.9, "0s"},
        {59.9, "59s"},
        {59.99, "59s"},
        {60, "1m 0s"},
        {3599, "59m 59s"},
        {3600, "1h 0m 0s"},
        {3725, "1h 2m 5s"},
        {7200, "2h 0m 0s"},
        {25 * 3600 + 61, "25h 1m 1s"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatDuration(c.seconds), QString::fromUtf8(c.expected)) << c.seconds.value_or(-1);
}

TEST(FormatDuration, ValuesWithoutWholeSecondsAreUnavailable)
{
    for (double value : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity(), 1e19, -1e19, 9223372036854775808.0})
        EXPECT_EQ(formatDuration(value), QStringLiteral("Unavailable")) << value;
    // The largest finite value below 2^63 still formats.
    EXPECT_TRUE(formatDuration(9.2e18).endsWith(QLatin1Char('s')));
}

TEST(FormatOptionalDate, AbsentIsOneDashAndPresentNamesDayAndTime)
{
    EXPECT_EQ(formatOptionalDate(std::nullopt), QStringLiteral("\u2014"));
    EXPECT_EQ(formatOptionalDate(std::nullopt).size(), 1);
    const QDateTime date(QDate(2026, 1, 5), QTime(15, 4, 30), QTimeZone::systemTimeZone());
    const QString text = formatOptionalDate(date);
    EXPECT_TRUE(text.contains(QStringLiteral("2026"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("04"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral(":30"))) << "seconds are not shown: " << text.toStdString();
}

TEST(FormatMemoryBytes, BinaryUnitsWithAdaptivePrecision)
{
    EXPECT_EQ(formatMemoryBytes(0), QStringLiteral("0 bytes"));
    EXPECT_EQ(formatMemoryBytes(512), QStringLiteral("512 bytes"));
    EXPECT_EQ(formatMemoryBytes(12 * 1024ULL), QStringLiteral("12 kB"));
    EXPECT_EQ(formatMemoryBytes(quint64(12.3 * 1024 * 1024)), QStringLiteral("12.3 MB"));
    EXPECT_EQ(formatMemoryBytes(quint64(1.25 * 1024 * 1024 * 1024)), QStringLiteral("1.25 GB"));
    EXPECT_FALSE(formatMemoryBytes(std::numeric_limits<quint64>::max()).isEmpty());
}

TEST(RunningServicesQuitWarning, CountsAndPlural)
{
    EXPECT_FALSE(runningServicesQuitWarning(0));
    EXPECT_FALSE(runningServicesQuitWarning(-3));
    EXPECT_EQ(runningServicesQuitWarning(1), QStringLiteral("All 1 running service will be terminated."));
    EXPECT_EQ(runningServicesQuitWarning(2), QStringLiteral("All 2 running services will be terminated."));
    EXPECT_EQ(runningServicesQuitWarning(1000), QStringLiteral("All 1000 running services will be terminated."));
}

TEST(SearchRelevanceScore, WorkedExamples)
{
    const struct {
        const char *search;
        const char *item;
        std::optional<int> expected;
    } cases[] = {
        {"", "anything", 0},
        {"   \n", "anything", 0},
        {"Cafe", "café", 1000},
        {"ÉCOLE", "ecole", 1000},
        {"ecole", "ÉCOLE", 1000},
        {"ser", "Server", 900},
        {"ver", "Server", 800},
        {"web api", "api web", 700},
        {"api web", "web api", 700},
        {"srv", "server", 140},
        {"web srv", "web server", 418},
        {"xyz", "server", std::nullopt},
        {"web xyz", "web server", std::nullopt},
        {"node-js", "nodejs server", 650},
        {"de-js", "the nodejs server", 600},
    };
    for (const auto &c : cases)
        EXPECT_EQ(searchRelevanceScore(QString::fromUtf8(c.search), QString::fromUtf8(c.item)), c.expected)
            << c.search << " / " << c.item;
}

TEST(FuzzySubsequenceScore, RunsGapsAndLengthPenalty)
{
    EXPECT_EQ(fuzzySubsequenceScore(QString(), QStringLiteral("abc")), 0);
    EXPECT_EQ(fuzzySubsequenceScore(QStringLiteral("a"), QString()), std::nullopt);
    // Adjacent matches earn 14, 18, 22; a gap starts again at 14.
    EXPECT_EQ(fuzzySubsequenceScore(QStringLiteral("abc"), QStringLiteral("abc")), 100 + 14 + 18 + 22 - 3);
    EXPECT_EQ(fuzzySubsequenceScore(QStringLiteral("ac"), QStringLiteral("abc")), 100 + 14 + 14 - 3);
    // A text of 40 or more characters loses exactly 40.
    const QString longText = QStringLiteral("a") + QString(60, QLatin1Char('x')) + QStringLiteral("b");
    EXPECT_EQ(fuzzySubsequenceScore(QStringLiteral("ab"), longText), 100 + 14 + 14 - 40);
    // No ceiling: long runs with one gap exceed an exact match's 1000.
    const QString pattern = QString(60, QLatin1Char('a')) + QStringLiteral("b");
    EXPECT_GT(*fuzzySubsequenceScore(pattern, QString(60, QLatin1Char('a')) + QStringLiteral("xb")), 1000);
    // Never below 1.
    EXPECT_EQ(fuzzySubsequenceScore(QStringLiteral("a"), QString(80, QLatin1Char('x')) + QStringLiteral("a")), 74);
}

TEST(SearchRelevanceScore, ComparesWholeCharacters)
{
    // A family emoji is one character: the man alone is not "contained" in it.
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467 home");
    EXPECT_EQ(searchRelevanceScore(family, family), 1000);
    EXPECT_NE(searchRelevanceScore(QStringLiteral("\U0001F468"), family), 900);
    // Combining marks fold away like precomposed accents.
    EXPECT_EQ(searchRelevanceScore(QStringLiteral("resume"), QStringLiteral("re\u0301sume\u0301")), 1000);
    EXPECT_EQ(splitOnWhitespace(QStringLiteral("  a\u00A0b\tc  ")),
              (QStringList {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

TEST(ElidedLineCache, AHugeTextShowsAsItsWholeLineElidedFromABoundedHeadAndTail)
{
    const QFont font = textStyleFont(TextStyle::caption);
    const QFontMetrics metrics(font);
    const auto repeated = [](const QString &piece, qsizetype length) {
        QString text;
        while (text.size() < length)
            text += piece;
        return text.left(length);
    };
    const struct {
        const char *name;
        QString text;
    } cases[] = {
        {"short, with a line break", QStringLiteral("echo hi\nthere")},
        {"100 KB with line breaks",
         QStringLiteral("exec sleep 600 # ") + repeated(QStringLiteral("--flag=value\npath/to/file "), 100'000)},
        // A pair starts at every odd index: a head or tail of an even length
        // would end inside one.
        {"surrogate pairs cut at the head", QStringLiteral("a") + repeated(QStringLiteral("🚀"), 100'000)},
        {"surrogate pairs cut at both ends",
         QStringLiteral("a") + repeated(QStringLiteral("🚀"), 100'000) + QStringLiteral("a")},
    };
    for (const auto &[name, text] : cases) {
        for (const int width : {40, 150, 600}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(width));
            QString oneLine = text;
            oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
            ElidedLineCache cache;
            const QString shown = cache.elided(text, font, width);
            EXPECT_EQ(shown, metrics.elidedText(oneLine, Qt::ElideMiddle, width));
            const QString part = ElidedLineCache::showablePart(text, metrics, width);
            EXPECT_LE(part.size(), 2 * std::max(64, width));
            for (const QString &cut : {shown, part}) {
                for (qsizetype at = 0; at < cut.size(); ++at) {
                    const bool pairedAfter = at + 1 < cut.size() && cut.at(at + 1).isLowSurrogate();
                    const bool pairedBefore = at > 0 && cut.at(at - 1).isHighSurrogate();
                    EXPECT_TRUE(!cut.at(at).isHighSurrogate() || pairedAfter) << at;
                    EXPECT_TRUE(!cut.at(at).isLowSurrogate() || pairedBefore) << at;
                }
            }
        }
    }
}

TEST(ElidedLineCache, AnotherFontOrWidthLaysTheLineOutAgain)
{
    const QString text = QStringLiteral("exec server --port 8080 --config /etc/server/config.yaml --verbose");
    QFont small = textStyleFont(TextStyle::caption);
    QFont large = small;
    large.setPixelSize(small.pixelSize() > 0 ? small.pixelSize() * 2 : 24);
    ElidedLineCache cache;
    for (const auto &[font, width] : {std::pair {small, 120}, {large, 120}, {large, 200}, {small, 120}})
        EXPECT_EQ(cache.elided(text, font, width), QFontMetrics(font).elidedText(text, Qt::ElideMiddle, width));
}
