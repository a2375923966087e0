#include "records/JsonCodec.h"
#include "records/ServiceRunRecord.h"
#include "records/RecordsTestSupport.h"

#include <gtest/gtest.h>

using namespace records_test;

namespace {

const QByteArray minimalRecord = R"({"id": "0B7E4C3A-1F2D-4E5F-8A9B-0C1D2E3F4A5B",
  "serviceId": "1c2d3e4f-5a6b-4c7d-8e9f-0a1b2c3d4e5f",
  "startedAt": "2025-03-14T09:26:53Z", "endedAt": "2025-03-14T09:27:00Z", "stopReason": "stopped")";

ServiceRunRecord decodeRecord(const QByteArray &object)
{
    return decodeJson<ServiceRunRecord>(object);
}

} // namespace

TEST(ServiceRunRecord, FullRecordSurvivesARoundTripExceptSubSecondParts)
{
    ServiceRunRecord record = makeRun(QUuid::createUuid(), 1'741'944'413, QStringLiteral("ok \"é\"\r\n😀"));
    record.startedAt = record.startedAt.addMSecs(750);
    record.pid = 4242;
    record.peakCpuPercent = 87.5;
    record.peakMemoryBytes = std::numeric_limits<quint64>::max();
    record.environmentProfileName = QStringLiteral("Staging");
    record.environmentProfileId = QUuid::createUuid();
    record.environment = {{QStringLiteral("A"), QStringLiteral("1"), false},
                          ServiceRunEnvironmentEntry::forVariable(QStringLiteral("TOKEN"), QStringLiteral("s3cret"), true)};
    record.stopReason = ServiceRunStopReason::forceKilled;
    record.exitCode = -9;
    record.securityScan = ServiceRunSecurityScan{
        ServiceRunSecurityOutcome::approved,
        {CommandThreatFinding{QStringLiteral("rule"), CommandThreatSeverity::high, QStringLiteral("t"),
                              QStringLiteral("e"), QStringLiteral("v")}}};

    const ServiceRunRecord loaded = decodeRecord(encodePrettyJson(record));
    ServiceRunRecord expected = record;
    expected.startedAt = json::truncatedToSeconds(record.startedAt);
    EXPECT_EQ(loaded, expected);
}

TEST(ServiceRunRecord, AbsentOptionalsAreLeftOutAndAlwaysWrittenFieldsStay)
{
    const ServiceRunRecord record = makeRun(QUuid::createUuid(), 1'700'000'000);
    const QByteArray written = encodePrettyJson(record);
    for (const char *absent : {"\"pid\"", "\"exitCode\"", "\"securityScan\"", "\"environmentProfileName\"",
                               "\"environmentProfileId\"", "null"})
        EXPECT_FALSE(written.contains(absent)) << absent;
    for (const char *present : {"\"peakCpuPercent\": 0", "\"peakMemoryBytes\": 0", "\"environment\": []",
                                "\"output\": \"\"", "\"stopReason\": \"exited\""})
        EXPECT_TRUE(written.contains(present)) << present << "\n" << written.constData();
    EXPECT_EQ(decodeRecord(written), record);
}

TEST(ServiceRunRecord, OnlyTheFiveRequiredKeysGiveDefaultsForTheRest)
{
    for (const QByteArray &tail : {QByteArray("}"),
                                   QByteArray(R"(, "pid": null, "environment": null, "output": null, "extra": 1})")}) {
        const ServiceRunRecord record = decodeRecord(minimalRecord + tail);
        EXPECT_EQ(record.id, QUuid(QStringLiteral("0b7e4c3a-1f2d-4e5f-8a9b-0c1d2e3f4a5b")));
        EXPECT_EQ(record.serviceId, QUuid(QStringLiteral("1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F")));
        EXPECT_EQ(record.stopReason, ServiceRunStopReason::stopped);
        EXPECT_EQ(record.peakCpuPercent, 0.0);
        EXPECT_EQ(record.peakMemoryBytes, 0u);
        EXPECT_TRUE(record.environment.isEmpty());
        EXPECT_TRUE(record.output.isEmpty());
        EXPECT_FALSE(record.pid || record.exitCode || record.securityScan || record.environmentProfileId
                     || record.environmentProfileName);
    }
}

TEST(ServiceRunRecord, MalformedRecordsFailToDecode)
{
    const QByteArray withoutStopReason = QByteArray(minimalRecord).replace(R"(, "stopReason": "stopped")", "");
    const struct {
        const char *what;
        QByteArray json;
    } rows[] = {
        {"no stopReason", withoutStopReason + "}"},
        {"unknown stopReason", QByteArray(minimalRecord).replace("stopped", "crashed") + "}"},
        {"no id", QByteArray(minimalRecord).replace("\"id\"", "\"ID\"") + "}"},
        {"fractional date", QByteArray(minimalRecord).replace("09:27:00Z", "09:27:00.5Z") + "}"},
        {"pid past Int32", minimalRecord + R"(, "pid": 2147483648})"},
        {"huge pid", minimalRecord + R"(, "pid": 1e300})"},
        {"fractional exit code", minimalRecord + R"(, "exitCode": 1.5})"},
        {"negative memory", minimalRecord + R"(, "peakMemoryBytes": -1})"},
        {"output as number", minimalRecord + R"(, "output": 5})"},
        {"entry without isSecret", minimalRecord + R"(, "environment": [{"key": "A", "value": "1"}]})"},
        {"entry value null", minimalRecord + R"(, "environment": [{"key": "A", "value": null, "isSecret": false}]})"},
        {"unknown outcome", minimalRecord + R"(, "securityScan": {"outcome": "maybe", "findings": []}})"},
        {"scan without findings", minimalRecord + R"(, "securityScan": {"outcome": "blocked"}})"},
        {"severity 1", minimalRecord + R"(, "securityScan": {"outcome": "blocked", "findings": [{"ruleID": "r",
            "severity": 1, "title": "t", "explanation": "e", "evidence": "v"}]}})"},
        {"severity as text", minimalRecord + R"(, "securityScan": {"outcome": "blocked", "findings": [{"ruleID": "r",
            "severity": "high", "title": "t", "explanation": "e", "evidence": "v"}]}})"},
    };
    for (const auto &row : rows)
        EXPECT_THROW(decodeRecord(row.json), json::DecodeError) << row.what;
}

TEST(ServiceRunEnvironmentEntry, RedactionMasksOnlySecretsAndIsIdempotent)
{
    const QString mask = ServiceRunEnvironmentEntry::secretMask;
    EXPECT_EQ(mask.size(), 8);
    EXPECT_EQ(mask.toUtf8().size(), 24);
    EXPECT_TRUE(std::all_of(mask.begin(), mask.end(), [](QChar c) { return c.unicode() == 0x2022; }));

    const QList<ServiceRunEnvironmentEntry> entries = {{QStringLiteral("PLAIN"), QStringLiteral("visible"), false},
                                                      {QStringLiteral("TOKEN"), QStringLiteral("s3cret"), true},
                                                      {QStringLiteral("DONE"), mask, true}};
    const QList<ServiceRunEnvironmentEntry> expected = {{QStringLiteral("PLAIN"), QStringLiteral("visible"), false},
                                                       {QStringLiteral("TOKEN"), mask, true},
                                                       {QStringLiteral("DONE"), mask, true}};
    EXPECT_EQ(redactSecretEnvironmentEntries(entries), expected);
    EXPECT_EQ(redactSecretEnvironmentEntries(expected), expected);

    QList<ServiceRunEnvironmentEntry> inPlace = entries;
    EXPECT_TRUE(redactSecretEnvironmentEntriesInPlace(inPlace));
    EXPECT_FALSE(redactSecretEnvironmentEntriesInPlace(inPlace));
    EXPECT_EQ(inPlace, expected);

    EXPECT_EQ(ServiceRunEnvironmentEntry::forVariable(QStringLiteral("K"), QStringLiteral("v"), true).value, mask);
    EXPECT_EQ(ServiceRunEnvironmentEntry::forVariable(QStringLiteral("K"), QStringLiteral("v"), false).value,
              QStringLiteral("v"));
}

TEST(ServiceRunRecord, EveryControlCharacterOfLongOutputIsEscaped)
{
    // Terminal colour codes (ESC is U+001B) fill service output; written raw they
    // would make the whole history file unreadable. Long enough for any
    // vectorised string writer to take its fast path.
    QString controls;
    for (char16_t code = 0; code < 0x20; ++code)
        controls += QChar(code);
    ServiceRunRecord record = makeRun(QUuid::createUuid(), 1'700'000'000);
    record.output = (QStringLiteral("\x1b[32mok\x1b[0m naïve ") + controls).repeated(500);
    const QByteArray written = encodePrettyJson(record);
    const qsizetype outputStart = written.indexOf("\"output\": \"");
    const QByteArray outputText = written.mid(outputStart, written.indexOf("\",\n", outputStart) - outputStart);
    EXPECT_TRUE(std::none_of(outputText.begin(), outputText.end(), [](char c) { return uchar(c) < 0x20; }));
    EXPECT_EQ(decodeRecord(written), record);
}
