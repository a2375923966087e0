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

TEST(ServiceRunRecord, RoundTripKeepsEveryFieldAndLeavesAbsentOptionalsOut)
{
    ServiceRunRecord full = makeRun(QUuid::createUuid(), 1'741'944'413, QStringLiteral("ok \"é\"\r\n😀"));
    full.startedAt = full.startedAt.addMSecs(750);
    full.pid = 4242;
    full.peakCpuPercent = 87.5;
    full.peakMemoryBytes = std::numeric_limits<quint64>::max();
    full.environmentProfileName = QStringLiteral("Staging");
    full.environmentProfileId = QUuid::createUuid();
    full.environment = {{QStringLiteral("A"), QStringLiteral("1"), false}};
    full.stopReason = ServiceRunStopReason::forceKilled;
    full.exitCode = -9;
    full.securityScan =
        ServiceRunSecurityScan {ServiceRunSecurityOutcome::approved,
                                {CommandThreatFinding {QStringLiteral("r"), CommandThreatSeverity::high,
                                                       QStringLiteral("t"), QStringLiteral("e"), QStringLiteral("v")}}};
    ServiceRunRecord expected = full;
    expected.startedAt = json::truncatedToSeconds(full.startedAt);
    EXPECT_EQ(decodeRecord(encodePrettyJson(full)), expected);

    const ServiceRunRecord bare = makeRun(QUuid::createUuid(), 1'700'000'000);
    const QByteArray written = encodePrettyJson(bare);
    for (const char *absent : {"\"pid\"", "\"exitCode\"", "\"securityScan\"", "\"environmentProfile", "null"})
        EXPECT_FALSE(written.contains(absent)) << absent;
    for (const char *present :
         {"\"peakCpuPercent\": 0", "\"peakMemoryBytes\": 0", "\"environment\": []", "\"output\": \"\""})
        EXPECT_TRUE(written.contains(present)) << present;
    EXPECT_EQ(decodeRecord(written), bare);
}

TEST(ServiceRunRecord, OnlyTheFiveRequiredKeysGiveDefaultsForTheRest)
{
    for (const QByteArray &tail :
         {QByteArray("}"), QByteArray(R"(, "pid": null, "environment": null, "output": null, "extra": 1})")}) {
        const ServiceRunRecord record = decodeRecord(minimalRecord + tail);
        EXPECT_EQ(record.serviceId, QUuid(QStringLiteral("1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F")));
        EXPECT_EQ(record.stopReason, ServiceRunStopReason::stopped);
        EXPECT_EQ(record.peakCpuPercent, 0.0);
        EXPECT_EQ(record.peakMemoryBytes, 0u);
        EXPECT_TRUE(record.environment.isEmpty() && record.output.isEmpty());
        EXPECT_FALSE(record.pid || record.exitCode || record.securityScan || record.environmentProfileId
                     || record.environmentProfileName);
    }
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
