#include "records/ServiceRunHistoryRepository.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace records_test;

namespace {

const QString historyFile = QStringLiteral("run-history.json");

QList<ServiceRunRecord> runsOf(const QUuid &serviceId, int count, qint64 firstStart)
{
    QList<ServiceRunRecord> runs;
    for (int index = 0; index < count; ++index)
        runs.append(makeRun(serviceId, firstStart - index));
    return runs;
}

QList<ServiceRunRecord> storedRuns()
{
    return decodeJson<QList<ServiceRunRecord>>(readFile(dataFile(historyFile)));
}

} // namespace

TEST(ServiceRunHistoryRepository, AppendToAMissingFileCreatesAOneElementList)
{
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    const ServiceRunRecord run = makeRun(QUuid::createUuid(), 1'700'000'000, QStringLiteral("hello"));
    EXPECT_EQ(await(repository.append(run)), QList<ServiceRunRecord>{run});
    EXPECT_EQ(storedRuns(), QList<ServiceRunRecord>{run});
    EXPECT_EQ(await(repository.load()), QList<ServiceRunRecord>{run});
}

TEST(ServiceRunHistoryRepository, AppendKeepsTheNewestFiftyOfEveryService)
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    ServiceRunHistoryRepository repository(dataFile(historyFile));

    // Fifty of A: the 51st pushes out the last one in file order.
    const QList<ServiceRunRecord> fifty = runsOf(a, 50, 1'700'000'000);
    await(repository.replaceAll(fifty));
    const ServiceRunRecord newest = makeRun(a, 1'600'000'000);  // started earlier than all: order is by position
    const QList<ServiceRunRecord> written = await(repository.append(newest));
    ASSERT_EQ(written.size(), 50);
    EXPECT_EQ(written.first(), newest);
    EXPECT_EQ(written.mid(1), fifty.mid(0, 49));
    EXPECT_EQ(storedRuns(), written);

    // A file with sixty of A (more than any append leaves) is trimmed by B's append too.
    const QList<ServiceRunRecord> sixty = runsOf(a, 60, 1'700'000'000);
    await(repository.replaceAll(sixty));
    const ServiceRunRecord ofB = makeRun(b, 1'700'000'000);
    QList<ServiceRunRecord> expected{ofB};
    expected += sixty.mid(0, 50);
    EXPECT_EQ(await(repository.append(ofB)), expected);
    EXPECT_EQ(storedRuns(), expected);
}

TEST(ServiceRunHistoryRepository, AppendKeepsDuplicateIdsAndMasksSecretsOnDisk)
{
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    ServiceRunRecord run = makeRun(QUuid::createUuid(), 1'700'000'000);
    run.environment = {{QStringLiteral("API_TOKEN"), QStringLiteral("tok-CLEAR-VALUE-123"), true},
                       {QStringLiteral("MODE"), QStringLiteral("debug"), false}};
    await(repository.append(run));
    await(repository.append(run));

    const QByteArray bytes = readFile(dataFile(historyFile));
    EXPECT_FALSE(bytes.contains("tok-CLEAR-VALUE-123"));
    EXPECT_TRUE(bytes.contains("debug"));
    const QList<ServiceRunRecord> stored = storedRuns();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].id, stored[1].id);
    EXPECT_EQ(stored[0].environment, redactSecretEnvironmentEntries(run.environment));
}

TEST(ServiceRunHistoryRepository, DeleteAndClearRemoveTheirRecordsAndKeepTheOrderOfTheRest)
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    const QList<ServiceRunRecord> all = {makeRun(a, 50), makeRun(b, 40), makeRun(a, 30), makeRun(b, 20)};
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    await(repository.replaceAll(all));

    await(repository.deleteRecord(QUuid::createUuid()));
    EXPECT_EQ(storedRuns(), all);
    await(repository.deleteRecord(all[2].id));
    EXPECT_EQ(storedRuns(), (QList<ServiceRunRecord>{all[0], all[1], all[3]}));
    await(repository.clear(b));
    EXPECT_EQ(storedRuns(), QList<ServiceRunRecord>{all[0]});
}

TEST(ServiceRunHistoryRepository, ReplaceAllWritesTheListAsGiven)
{
    // No masking, limit or sorting: the manager hands over its published list.
    const QUuid a = QUuid::createUuid();
    QList<ServiceRunRecord> list = runsOf(a, 55, 100);
    std::reverse(list.begin(), list.end());
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    await(repository.replaceAll(list));
    EXPECT_EQ(await(repository.load()), list);
}

TEST(ServiceRunHistoryRepository, FailedWriteLeavesThePreviousFileAndReachesTheCaller)
{
    const QString path = dataFile(historyFile);
    ServiceRunHistoryRepository repository(path);
    await(repository.append(makeRun(QUuid::createUuid(), 1'700'000'000)));
    const QByteArray before = readFile(path);

    const ScopedFileSizeLimit limit(static_cast<rlim_t>(before.size()));
    const ServiceRunRecord big = makeRun(QUuid::createUuid(), 1'700'000'001, QString(4096, QLatin1Char('x')));
    try {
        await(repository.append(big));
        ADD_FAILURE() << "the append should have failed";
    } catch (const FileStoreError &error) {
        EXPECT_EQ(error.message().toStdString(), "The file “run-history.json” couldn’t be saved: File too large");
    }
    EXPECT_THROW(await(repository.replaceAll({big})), FileStoreError);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(QDir(applicationSupportDirectory()).entryList(QDir::Files), QStringList{historyFile});
}

TEST(ServiceRunHistoryRepository, CorruptFilesLoadAsEmptyLogAndAreSetAsideByTheNextWrite)
{
    const QByteArray valid = encodePrettyJson(QList<ServiceRunRecord>{makeRun(QUuid::createUuid(), 1'700'000'000)});
    const QByteArray head = R"([{"id": "0B7E4C3A-1F2D-4E5F-8A9B-0C1D2E3F4A5B",
        "serviceId": "1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F", "startedAt": "2025-03-14T09:26:53Z",
        "endedAt": "2025-03-14T09:27:00Z")";
    const struct {
        const char *what;
        QByteArray content;
    } rows[] = {
        {"empty file", ""},
        {"truncated JSON", valid.left(valid.size() / 2)},
        {"a record without stopReason", head + "}]"},
        {"an unknown stop reason", head + R"(, "stopReason": "vanished"}])"},
        {"a finding of severity 1", head + R"(, "stopReason": "securityBlocked", "securityScan": {"outcome":
            "blocked", "findings": [{"ruleID": "r", "severity": 1, "title": "t", "explanation": "e",
            "evidence": "v"}]}}])"},
        {"a huge pid", head + R"(, "stopReason": "exited", "pid": 99999999999999999999}])"},
        {"an object instead of a list", "{}"},
        {"not UTF-8", "[\"\xc3\x28\"]"},
    };
    for (const auto &row : rows) {
        QDir(applicationSupportDirectory()).removeRecursively();
        const QString path = dataFile(historyFile);
        writeFile(path, row.content);
        ServiceRunHistoryRepository repository(path);
        LogCapture logs;
        EXPECT_TRUE(await(repository.load()).isEmpty()) << row.what;
        ASSERT_EQ(logs.messages().size(), 1) << row.what;
        EXPECT_TRUE(logs.messages().first().startsWith(
            QStringLiteral("com.tolvenix.Velmora.persistence: Failed to load run-history.json: ")))
            << row.what;

        const ServiceRunRecord run = makeRun(QUuid::createUuid(), 1'700'000'000);
        EXPECT_EQ(await(repository.append(run)), QList<ServiceRunRecord>{run}) << row.what;
        const QStringList asides = setAsideFiles(historyFile);
        ASSERT_EQ(asides.size(), 1) << row.what;
        EXPECT_EQ(readFile(dataFile(asides.first())), row.content) << row.what;
        EXPECT_EQ(storedRuns(), QList<ServiceRunRecord>{run}) << row.what;
    }
}
