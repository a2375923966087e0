#include "records/CommandThreatFinding.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

CommandThreatFinding decode(const QByteArray &text)
{
    const json::ParsedDocument parsed = json::parse(text);
    return CommandThreatFinding::fromJson(parsed.root());
}

QByteArray encode(const CommandThreatFinding &finding)
{
    json::Document document;
    return json::serializeCompact(finding.toJson(document.GetAllocator()));
}

QByteArray findingWithSeverity(const QByteArray &severity)
{
    return R"({"ruleID": "disk-destructive", "severity": )" + severity
           + R"(, "title": "T", "explanation": "E", "evidence": "V"})";
}

} // namespace

TEST(CommandThreatSeverity, OnlyTwoThreeAndFourAreSeverities)
{
    for (qint64 raw : {qint64(-1), qint64(0), qint64(1), qint64(5), qint64(1) << 32})
        EXPECT_FALSE(commandThreatSeverityFromRawValue(raw).has_value()) << raw;
    EXPECT_EQ(commandThreatSeverityFromRawValue(2), CommandThreatSeverity::medium);
    EXPECT_EQ(commandThreatSeverityFromRawValue(3), CommandThreatSeverity::high);
    EXPECT_EQ(commandThreatSeverityFromRawValue(4), CommandThreatSeverity::critical);
}

TEST(CommandThreatSeverity, OrderedMediumHighCriticalWithTheirLabels)
{
    EXPECT_LT(CommandThreatSeverity::medium, CommandThreatSeverity::high);
    EXPECT_LT(CommandThreatSeverity::high, CommandThreatSeverity::critical);
    EXPECT_GE(CommandThreatSeverity::critical, CommandThreatSeverity::critical);
    const QList<CommandThreatSeverity> all = allCommandThreatSeverities();
    ASSERT_EQ(all.size(), 3);
    QStringList labels;
    for (CommandThreatSeverity severity : all)
        labels.append(label(severity));
    EXPECT_EQ(labels, QStringList({QStringLiteral("Medium"), QStringLiteral("High"), QStringLiteral("Critical")}));
    EXPECT_EQ(QSet<CommandThreatSeverity>(all.begin(), all.end()).size(), 3);
}

TEST(CommandThreatFinding, SeverityIsWrittenAsItsRawInteger)
{
    const struct {
        CommandThreatSeverity severity;
        const char *expected;
    } rows[] = {{CommandThreatSeverity::critical, R"("severity":4)"},
                {CommandThreatSeverity::high, R"("severity":3)"},
                {CommandThreatSeverity::medium, R"("severity":2)"}};
    for (const auto &row : rows) {
        const CommandThreatFinding finding {QStringLiteral("r"), row.severity, QStringLiteral("t"), QStringLiteral("e"),
                                            QStringLiteral("v")};
        const QByteArray text = encode(finding);
        EXPECT_TRUE(text.contains(row.expected)) << text.constData();
        EXPECT_EQ(decode(text), finding);
    }
}

TEST(CommandThreatFinding, EncodesAllFiveKeysAndIgnoresExtraKeysWhenDecoding)
{
    const CommandThreatFinding finding {QStringLiteral("privileged-launch"), CommandThreatSeverity::medium,
                                        QStringLiteral("Privileged command"), QStringLiteral("Why “it” matters"),
                                        QStringLiteral("sudo")};
    EXPECT_EQ(encode(finding),
              QByteArray(R"({"evidence":"sudo","explanation":"Why “it” matters","ruleID":"privileged-launch",)"
                         R"("severity":2,"title":"Privileged command"})"));

    const CommandThreatFinding decoded =
        decode(R"({"ruleID": "privileged-launch", "severity": 2, "title": "Privileged command",)"
               R"( "explanation": "Why “it” matters", "evidence": "sudo", "matchedText": "sudo ls", "extra": [1]})");
    EXPECT_EQ(decoded, finding);
}

TEST(CommandThreatFinding, DecodingFailsOnAnUnknownOrMistypedSeverity)
{
    for (const QByteArray &severity :
         {QByteArray("1"), QByteArray("5"), QByteArray("0"), QByteArray("-1"), QByteArray(R"("high")"),
          QByteArray("3.5"), QByteArray("null"), QByteArray("true")})
        EXPECT_THROW(decode(findingWithSeverity(severity)), json::DecodeError) << severity.constData();
    EXPECT_EQ(decode(findingWithSeverity("3")).severity, CommandThreatSeverity::high);
}

TEST(CommandThreatFinding, DecodingFailsWhenAnyKeyIsMissingOrMistyped)
{
    const QByteArray complete = R"({"ruleID": "a", "severity": 2, "title": "b", "explanation": "c", "evidence": "d"})";
    ASSERT_NO_THROW(decode(complete));
    for (const char *key : {"ruleID", "severity", "title", "explanation", "evidence"}) {
        json::ParsedDocument parsed = json::parse(complete);
        parsed.document.RemoveMember(key);
        EXPECT_THROW(CommandThreatFinding::fromJson(parsed.root()), json::DecodeError) << key;
    }
    // Keys match exactly: a differently cased key does not stand in for a missing one.
    EXPECT_THROW(decode(R"({"ruleId": "a", "severity": 2, "title": "b", "explanation": "c", "evidence": "d"})"),
                 json::DecodeError);
    EXPECT_THROW(decode(R"({"ruleID": "a", "severity": 2, "title": "b", "explanation": "c", "evidence": 7})"),
                 json::DecodeError);
    EXPECT_THROW(decode(R"(["a", 2, "b", "c", "d"])"), json::DecodeError);
}
