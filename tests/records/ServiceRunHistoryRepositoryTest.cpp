#include "records/ServiceRunHistoryRepository.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"

#include <QThread>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace records_test;

namespace {

QList<ServiceRunRecord> runsOf(const QUuid &serviceId, int count, qint64 firstStart)
{
    QList<ServiceRunRecord> runs;
    for (int index = 0; index < count; ++index)
        runs.append(makeRun(serviceId, firstStart - index));
    return runs;
}

} // namespace

TEST(ServiceRunHistoryRepository, AppendToAMissingFileCreatesAOneElementList)
{
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    const ServiceRunRecord run = makeRun(QUuid::createUuid(), 1'700'000'000, QStringLiteral("hello"));
    await(repository.append(run));
    EXPECT_EQ(storedRuns(), QList<ServiceRunRecord> {run});
    EXPECT_EQ(await(repository.load()), QList<ServiceRunRecord> {run});
}

enum class StoredBy { thisRepository, anotherWriter, anotherWriterThenLoaded };

// Each write splices the text of the file this repository wrote or loaded last
// or, for a file someone else wrote since, decodes and encodes it whole: every
// path must write exactly what the file store's encoder writes for the list.
class EitherWritePath : public ::testing::TestWithParam<StoredBy> {
protected:
    void store(const QList<ServiceRunRecord> &list)
    {
        if (GetParam() == StoredBy::thisRepository) {
            await(repository.replaceAll(list));
            return;
        }
        writeFile(dataFile(historyFile), encodePrettyJson(list));
        if (GetParam() == StoredBy::anotherWriterThenLoaded)
            await(repository.loadChecked());
    }
    void expectStored(const QList<ServiceRunRecord> &expected)
    {
        EXPECT_TRUE(readFile(dataFile(historyFile)) == encodePrettyJson(expected));
        EXPECT_EQ(storedRuns(), expected);
    }

    ServiceRunHistoryRepository repository {dataFile(historyFile)};
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
};

INSTANTIATE_TEST_SUITE_P(ServiceRunHistoryRepository, EitherWritePath,
                         ::testing::Values(StoredBy::thisRepository, StoredBy::anotherWriter,
                                           StoredBy::anotherWriterThenLoaded),
                         [](const auto &param) {
                             switch (param.param) {
                             case StoredBy::thisRepository:
                                 return "FileWrittenHere";
                             case StoredBy::anotherWriter:
                                 return "FileWrittenElsewhere";
                             case StoredBy::anotherWriterThenLoaded:
                                 break;
                             }
                             return "FileWrittenElsewhereThenLoaded";
                         });

TEST_P(EitherWritePath, AppendKeepsTheNewestFiftyOfEveryService)
{
    // Fifty of A: the 51st pushes out the last one in file order, even though it
    // started earlier than all of them.
    const QList<ServiceRunRecord> fifty = runsOf(a, 50, 1'700'000'000);
    store(fifty);
    const ServiceRunRecord newest = makeRun(a, 1'600'000'000);
    await(repository.append(newest));
    expectStored(QList<ServiceRunRecord> {newest} + fifty.mid(0, 49));

    // A file with sixty of A (more than any append leaves) is trimmed by B's append too.
    const QList<ServiceRunRecord> sixty = runsOf(a, 60, 1'700'000'000);
    store(sixty);
    const ServiceRunRecord ofB = makeRun(b, 1'700'000'000);
    await(repository.append(ofB));
    expectStored(QList<ServiceRunRecord> {ofB} + sixty.mid(0, 50));
}

TEST_P(EitherWritePath, DeleteAndClearRemoveTheirRecordsAndKeepTheOrderOfTheRest)
{
    const QList<ServiceRunRecord> all = {makeRun(a, 50), makeRun(b, 40), makeRun(a, 30), makeRun(b, 20)};
    store(all);
    await(repository.deleteRecord(QUuid::createUuid()));
    expectStored(all);
    store(all);
    await(repository.deleteRecord(all[2].id));
    expectStored({all[0], all[1], all[3]});
    await(repository.clear(b));
    expectStored({all[0]});
    await(repository.clear(a));
    expectStored({});
}

TEST_P(EitherWritePath, SecretsAreMaskedAndDuplicateIdsKept)
{
    ServiceRunRecord run = makeRun(b, 20);
    run.environment = {{QStringLiteral("API_TOKEN"), QStringLiteral("tok-CLEAR-VALUE-123"), true},
                       {QStringLiteral("MODE"), QStringLiteral("debug"), false}};
    ServiceRunRecord handEdited = makeRun(a, 10);
    handEdited.environment = {{QStringLiteral("KEY"), QStringLiteral("key-CLEAR-VALUE-456"), true}};
    store({handEdited});
    await(repository.append(run));
    await(repository.append(run));
    EXPECT_FALSE(readFile(dataFile(historyFile)).contains("tok-CLEAR-VALUE-123"));
    EXPECT_FALSE(readFile(dataFile(historyFile)).contains("key-CLEAR-VALUE-456"));
    ServiceRunRecord masked = run;
    masked.environment = redactSecretEnvironmentEntries(run.environment);
    handEdited.environment = redactSecretEnvironmentEntries(handEdited.environment);
    EXPECT_EQ(storedRuns(), (QList<ServiceRunRecord> {masked, masked, handEdited}));
}

TEST_P(EitherWritePath, RedactionMasksTheRunsOfTheProfilesAndWritesOnlyWhenThatChangesThem)
{
    const QUuid profile = QUuid::createUuid();
    ServiceRunRecord used = makeRun(a, 30, QStringLiteral("output stays"));
    used.environmentProfileId = profile;
    used.environment = {{QStringLiteral("HOST"), QStringLiteral("db.internal"), false}};
    const ServiceRunRecord other = makeRun(b, 20);
    store({used, other});
    const ino_t before = inodeOf(dataFile(historyFile));
    await(repository.redactProfiles({QUuid::createUuid()}, {}));
    EXPECT_EQ(inodeOf(dataFile(historyFile)), before);

    await(repository.redactProfiles({profile}, {}));
    used.environment = {{QStringLiteral("HOST"), ServiceRunEnvironmentEntry::secretMask, true}};
    expectStored({used, other});
    const ino_t redacted = inodeOf(dataFile(historyFile));
    await(repository.redactProfiles({profile}, {}));
    EXPECT_EQ(inodeOf(dataFile(historyFile)), redacted);
}

TEST(ServiceRunHistoryRepository, AFileChangedSinceTheLastWriteIsReadAgain)
{
    const QString path = dataFile(historyFile);
    ServiceRunHistoryRepository repository(path);
    const QUuid service = QUuid::createUuid();
    await(repository.replaceAll(runsOf(service, 3, 100)));
    // Another writer rewrites the file in place with a list of the same size in
    // bytes, a clock tick later (file times are that coarse).
    QThread::msleep(20);
    const QList<ServiceRunRecord> replaced = runsOf(service, 3, 200);
    writeFile(path, encodePrettyJson(replaced));
    const ServiceRunRecord run = makeRun(service, 300);
    await(repository.append(run));
    EXPECT_EQ(storedRuns(), QList<ServiceRunRecord> {run} + replaced);
}

// A loaded history keeps its outputs in the file; each is read back from its
// own record's bytes, and from the file afresh once those are not what they were.
TEST(ServiceRunHistoryRepository, OutputsLeftInTheFileReadBackExactlyAndNeverStale)
{
    const QString path = dataFile(historyFile);
    const QUuid service = QUuid::createUuid();
    QList<ServiceRunRecord> runs {
        makeRun(service, 300, QStringLiteral("quote \" backslash \\ tab\t nul-free 完成 🚀\r\n")),
        makeRun(service, 200),
        makeRun(service, 100, QStringLiteral("\\\"").repeated(1000) + QStringLiteral("]}\"{[")),
    };
    // Another program's layout: no indentation at all.
    json::Document document;
    writeFile(path, json::serializeCompact(JsonCodec<QList<ServiceRunRecord>>::encode(runs, document.GetAllocator())));
    ServiceRunHistoryRepository repository(path);
    const QList<ServiceRunRecord> loaded = await(repository.loadChecked());
    ASSERT_EQ(idsOf(loaded), idsOf(runs));
    for (qsizetype index = 0; index < runs.size(); ++index) {
        EXPECT_EQ(loaded[index].output.isHeld(), runs[index].output.isEmpty());
        EXPECT_EQ(loaded[index].output.isEmpty(), runs[index].output.isEmpty());
        EXPECT_EQ(await(repository.readOutput(runs[index].id)), runs[index].output.text());
    }

    // Spliced: the records moved, their outputs did not change.
    const ServiceRunRecord next = makeRun(service, 400, QStringLiteral("next"));
    await(repository.append(next));
    EXPECT_EQ(storedRuns(), QList<ServiceRunRecord> {next} + runs);
    EXPECT_EQ(await(repository.readOutput(runs[2].id)), runs[2].output.text());

    // Changed by someone else, at the same size: the new text, never the old one.
    runs[0].output = QString(runs[0].output.text()).replace(QStringLiteral("tab"), QStringLiteral("TAB"));
    writeFile(path, encodePrettyJson(QList<ServiceRunRecord> {next} + runs));
    EXPECT_EQ(await(repository.readOutput(runs[0].id)), runs[0].output.text());

    await(repository.deleteRecord(runs[0].id));
    EXPECT_THROW(await(repository.readOutput(runs[0].id)), FileStoreError);
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
        EXPECT_EQ(error.message(), QStringLiteral("The file “run-history.json” couldn’t be saved in the folder “%1”: "
                                                  "File too large")
                                       .arg(applicationSupportDirectory()));
    }
    EXPECT_THROW(await(repository.replaceAll({big})), FileStoreError);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(QDir(applicationSupportDirectory()).entryList(QDir::Files), QStringList {historyFile});
}

TEST(ServiceRunHistoryRepository, CorruptFilesLoadAsEmptyLogAndAreSetAsideByTheNextWrite)
{
    const QByteArray valid = encodePrettyJson(QList<ServiceRunRecord> {makeRun(QUuid::createUuid(), 1'700'000'000)});
    const QByteArray head = R"([{"id": "0B7E4C3A-1F2D-4E5F-8A9B-0C1D2E3F4A5B",
        "serviceId": "1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F", "startedAt": "2025-03-14T09:26:53Z",
        "endedAt": "2025-03-14T09:27:00Z")";
    const auto exited = [&head](const QByteArray &extra) {
        return head + R"(, "stopReason": "exited")" + extra + "}]";
    };
    const QByteArray finding = R"(, "securityScan": {"outcome": "blocked", "findings": [{"ruleID": "r",
        "title": "t", "explanation": "e", "evidence": "v", "severity": )";
    const struct {
        const char *what;
        QByteArray content;
    } rows[] = {
        {"empty file", ""},
        {"truncated JSON", valid.left(valid.size() / 2)},
        {"an object instead of a list", "{}"},
        {"not UTF-8", "[\"\xc3\x28\"]"},
        {"a record without stopReason", head + "}]"},
        {"an unknown stop reason", head + R"(, "stopReason": "vanished"}])"},
        {"a finding of severity 1", exited(finding + "1}]}")},
        {"a severity as text", exited(finding + "\"high\"}]}")},
        {"an unknown scan outcome", exited(R"(, "securityScan": {"outcome": "maybe", "findings": []})")},
        {"a huge pid", exited(R"(, "pid": 99999999999999999999)")},
        {"a pid past Int32", exited(R"(, "pid": 2147483648)")},
        {"a fractional exit code", exited(R"(, "exitCode": 1.5)")},
        {"a negative memory peak", exited(R"(, "peakMemoryBytes": -1)")},
        {"output as a number", exited(R"(, "output": 5)")},
        {"an entry without isSecret", exited(R"(, "environment": [{"key": "A", "value": "1"}])")},
        {"a date with a fraction", QByteArray(exited("")).replace("09:27:00Z", "09:27:00.5Z")},
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
        await(repository.append(run));
        const QStringList asides = setAsideFiles(historyFile);
        ASSERT_EQ(asides.size(), 1) << row.what;
        EXPECT_EQ(readFile(dataFile(asides.first())), row.content) << row.what;
        EXPECT_EQ(storedRuns(), QList<ServiceRunRecord> {run}) << row.what;
    }
}

// Coarse file times (or a file replaced right after the write) cannot tell a
// changed file apart; splicing over one would garble it or write back a clear
// secret, so only the very bytes last written are spliced.
TEST(ServiceRunHistoryRepository, OnlyTheBytesLastWrittenAreSplicedNeverASameSizeEditOrReplacement)
{
    const QString path = dataFile(historyFile);
    const QUuid service = QUuid::createUuid();
    const auto withSecret = [&](qint64 started) {
        ServiceRunRecord run = makeRun(service, started);
        run.environment = {{QStringLiteral("TOKEN"), ServiceRunEnvironmentEntry::secretMask, true}};
        return run;
    };
    const QByteArray mask = ServiceRunEnvironmentEntry::secretMask.toUtf8();
    const QByteArray clear(mask.size(), 'Z');
    const QList<ServiceRunRecord> written {withSecret(100), makeRun(service, 90)};
    const QList<ServiceRunRecord> replacement {withSecret(100), makeRun(service, 90)};
    const ServiceRunRecord added = makeRun(service, 80);

    const struct {
        const char *what;
        std::function<void()> change;
        QList<ServiceRunRecord> expectedRest;
    } rows[] = {
        {"edited in place, file times put back",
         [&] {
             struct stat before {};
             ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
             QFile file(path);
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             const qsizetype at = file.readAll().indexOf(mask);
             ASSERT_GE(at, 0);
             file.seek(at);
             file.write(clear);
             file.close();
             const struct timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
         },
         written},
        {"replaced by a file of the same size",
         [&] {
             writeFile(path + QStringLiteral(".new"), encodePrettyJson(replacement));
             ASSERT_EQ(readFile(path + QStringLiteral(".new")).size(), readFile(path).size());
             ASSERT_TRUE(QFile::remove(path));
             ASSERT_TRUE(QFile::rename(path + QStringLiteral(".new"), path));
         },
         replacement},
        {"grown by a record another writer added at its end",
         [&] { writeFile(path, encodePrettyJson(written + QList<ServiceRunRecord> {added})); },
         written + QList<ServiceRunRecord> {added}},
        {"cut short", [&] { writeFile(path, readFile(path).chopped(1)); }, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ServiceRunHistoryRepository repository(path);
        await(repository.replaceAll(written));
        row.change();
        const ServiceRunRecord next = makeRun(service, 200);
        await(repository.append(next));
        const QByteArray bytes = readFile(path);
        EXPECT_FALSE(bytes.contains(clear));
        EXPECT_TRUE(bytes == encodePrettyJson(QList<ServiceRunRecord> {next} + row.expectedRest));
    }
}
