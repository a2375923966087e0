#include "records/OutputTextBuffer.h"
#include "records/UserPerceivedText.h"

#include <QList>
#include <QRandomGenerator>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace {

// The whole text split by the full boundary algorithm: the reference.
QList<qsizetype> boundaries(const QString &text)
{
    QList<qsizetype> result {0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype next = 0;
    while ((next = finder.toNextBoundary()) > 0)
        result.append(next);
    return result;
}

qsizetype referenceCount(const QString &text)
{
    return text.isEmpty() ? 0 : boundaries(text).size() - 1;
}

QString referenceLast(const QString &text, qsizetype limit)
{
    const QList<qsizetype> cuts = boundaries(text);
    const qsizetype characters = cuts.size() - 1;
    return limit >= characters ? text : text.mid(cuts.value(characters - limit));
}

const QString flagGermany = QStringLiteral("🇩🇪");
const QString family = QStringLiteral("👨‍👩‍👧"); // joined by ZWJ
const QString thumbsMedium = QStringLiteral("👍🏽");     // emoji with skin tone
const QString accented = QStringLiteral("e\u0301");          // e + combining acute
const QString hangul = QStringLiteral("\u1100\u1161\u11A8"); // one syllable of jamo

// Pieces that each form one character, or several of them, and join in
// awkward ways with their neighbours.
QString randomText(QRandomGenerator &random, int pieces)
{
    const QString choices[] = {QStringLiteral("a"),
                               QStringLiteral("\r\n"),
                               QStringLiteral("\r"),
                               QStringLiteral("\n"),
                               accented,
                               QStringLiteral("\u0301"),
                               family,
                               QStringLiteral("\u200D"),
                               thumbsMedium,
                               flagGermany,
                               QStringLiteral("🇫"),
                               hangul,
                               QStringLiteral("日本"),
                               QStringLiteral("\t"),
                               QStringLiteral("é")};
    QString text;
    for (int i = 0; i < pieces; ++i)
        text += choices[random.bounded(int(std::size(choices)))];
    return text;
}

} // namespace

TEST(UserPerceivedText, CountsCharactersNotUnits)
{
    struct Case {
        QString text;
        qsizetype characters;
    };
    const Case cases[] = {
        {QString(), 0},
        {QStringLiteral("abc"), 3},
        {QStringLiteral("a\r\nb"), 3},
        {QStringLiteral("\r\n\r\n"), 2},
        {QStringLiteral("\n\r"), 2},
        {accented + accented, 2},
        {thumbsMedium, 1},
        {family, 1},
        {flagGermany + QStringLiteral("🇫🇷"), 2},
        {flagGermany + QStringLiteral("🇫"), 2},
        {hangul, 1},
        {QStringLiteral("日本語"), 3},
        {QStringLiteral("x") + family + QStringLiteral("\r\n") + accented, 4},
    };
    for (const Case &testCase : cases)
        EXPECT_EQ(UserPerceivedText::count(testCase.text), testCase.characters) << testCase.text.toStdString();
}

TEST(UserPerceivedText, LastCharactersNeverSplitsACharacter)
{
    struct Case {
        QString text;
        qsizetype limit;
        QString expected;
    };
    QString flags;
    for (int i = 0; i < 300; ++i)
        flags += flagGermany;
    QString marks = QStringLiteral("o");
    for (int i = 0; i < 500; ++i)
        marks += QStringLiteral("\u0308");
    const Case cases[] = {
        {QStringLiteral("abc"), 0, QString()},
        {QStringLiteral("abc"), 5, QStringLiteral("abc")},
        {QStringLiteral("abc"), 2, QStringLiteral("bc")},
        {QStringLiteral("xx\r\n"), 1, QStringLiteral("\r\n")},
        {QStringLiteral("a\r\nb"), 2, QStringLiteral("\r\nb")},
        {QStringLiteral("ab") + accented + accented, 1, accented},
        {QStringLiteral("ab") + family + thumbsMedium, 2, family + thumbsMedium},
        // Long runs whose characters depend on where they start counting.
        {QStringLiteral("ab") + flags, 100, flags.right(400)},
        // A lone indicator first shifts every pair: the last one stands alone.
        {QStringLiteral("ab") + QStringLiteral("🇫") + flags, 300, flags.mid(2)},
        {QStringLiteral("a") + marks, 1, marks},
        {QStringLiteral("ab") + marks + QStringLiteral("c"), 2, marks + QStringLiteral("c")},
    };
    for (const Case &testCase : cases) {
        const QString result = UserPerceivedText::lastCharacters(testCase.text, testCase.limit);
        EXPECT_EQ(result, testCase.expected) << "limit " << testCase.limit;
        EXPECT_EQ(result, referenceLast(testCase.text, testCase.limit)) << "limit " << testCase.limit;
    }
}

TEST(UserPerceivedText, AgreesWithTheFullBoundaryAlgorithmOnMixedText)
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 40; ++round) {
        const QString text = randomText(random, 20 + random.bounded(400));
        ASSERT_EQ(UserPerceivedText::count(text), referenceCount(text)) << "round " << round;
        for (const qsizetype limit : {qsizetype(1), qsizetype(7), qsizetype(64), referenceCount(text) - 1}) {
            ASSERT_EQ(UserPerceivedText::lastCharacters(text, limit), referenceLast(text, limit))
                << "round " << round << " limit " << limit;
        }
    }
}

TEST(OutputTextBuffer, CountFollowsTheTextWhateverTheChunkSeams)
{
    QRandomGenerator random(7);
    for (int round = 0; round < 30; ++round) {
        const QString text = randomText(random, 600);
        OutputTextBuffer buffer(1000000, 10);
        // Chunks cut anywhere: inside CR LF, between a letter and its marks,
        // inside a flag pair, even between the halves of a surrogate pair.
        qsizetype position = 0;
        while (position < text.size()) {
            const qsizetype length = 1 + random.bounded(12);
            EXPECT_FALSE(buffer.append(text.mid(position, length)));
            position += length;
            ASSERT_EQ(buffer.characterCount(), referenceCount(buffer.text())) << "round " << round;
        }
        EXPECT_EQ(buffer.text(), text);
    }
}

TEST(OutputTextBuffer, CutsToTheLastCharactersOnlyOncePastTheLimit)
{
    OutputTextBuffer buffer(20, 15);
    EXPECT_FALSE(buffer.append(QStringLiteral("b") + QString(19, QLatin1Char('a'))));
    EXPECT_EQ(buffer.characterCount(), 20);
    EXPECT_TRUE(buffer.text().startsWith(QLatin1Char('b')));
    EXPECT_TRUE(buffer.append(QStringLiteral("\r")));
    EXPECT_EQ(buffer.text(), QString(14, QLatin1Char('a')) + QStringLiteral("\r"));
    // The LF joins the CR before it: still 15 characters, no cut.
    EXPECT_FALSE(buffer.append(QStringLiteral("\n")));
    EXPECT_EQ(buffer.characterCount(), 15);

    QRandomGenerator random(99);
    for (int round = 0; round < 20; ++round) {
        OutputTextBuffer cut(120, 80);
        QString reference;
        for (int step = 0; step < 60; ++step) {
            const QString chunk = randomText(random, 1 + random.bounded(9));
            reference += chunk;
            const bool expectCut = referenceCount(reference) > 120;
            if (expectCut)
                reference = referenceLast(reference, 80);
            ASSERT_EQ(cut.append(chunk), expectCut) << "round " << round << " step " << step;
            ASSERT_EQ(cut.text(), reference) << "round " << round << " step " << step;
            ASSERT_EQ(cut.characterCount(), referenceCount(reference));
        }
    }
}

TEST(OutputTextBuffer, RunsOfFlagsKeepTheirPairsAcrossChunks)
{
    OutputTextBuffer buffer(30, 20);
    buffer.append(QStringLiteral("x"));
    // One regional indicator per chunk: pairs form across every seam.
    for (int i = 0; i < 80; ++i) {
        const QString indicator = flagGermany.mid(qsizetype(i % 2) * 2, 2);
        buffer.append(indicator);
        ASSERT_EQ(buffer.characterCount(), referenceCount(buffer.text())) << i;
    }
    // Cut on flag boundaries only: whole flags, none split into lone indicators.
    ASSERT_EQ(buffer.text().size() % flagGermany.size(), 0);
    EXPECT_EQ(buffer.text(), flagGermany.repeated(buffer.text().size() / flagGermany.size()));
}
