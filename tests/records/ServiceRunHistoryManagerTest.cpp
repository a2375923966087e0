#include "records/ServiceRunHistoryManager.h"
#include "records/UnwrittenRunsFile.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"
#include "support/NearlyFullDisk.h"

#include <QPromise>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace records_test;

namespace {

QCoro::Task<> waitFor(QFuture<void> future)
{
    co_await future;
}

// Holds the write chain at one point until opened, so tests can queue work behind it.
struct ChainGate {
    std::shared_ptr<QPromise<void>> promise = std::make_shared<QPromise<void>>();
    explicit ChainGate(ServiceRunHistoryManager &manager)
    {
        promise->start();
        manager.enqueueWrite([future = promise->future()] { return waitFor(future); });
    }
    ~ChainGate() { open(); }
    void open()
    {
        if (!promise->future().isFinished())
            promise->finish();
    }
};

// Runs `task` without waiting for it; `done` turns true when it has finished.
QCoro::Task<> track(QCoro::Task<> task, bool &done)
{
    co_await std::move(task);
    done = true;
}

ActiveRunDraft makeDraft(const QUuid &serviceId)
{
    ActiveRunDraft draft;
    draft.id = QUuid::createUuid();
    draft.serviceId = serviceId;
    draft.startedAt = QDateTime::currentDateTimeUtc();
    draft.pid = 4321;
    return draft;
}

bool listed(const QList<ServiceRunRecord> &records, const QUuid &id)
{
    return std::any_of(records.begin(), records.end(), [&](const auto &record) { return record.id == id; });
}

class RunHistoryManager : public ::testing::Test {
protected:
    ~RunHistoryManager() override
    {
        // A throw here would end the whole program instead of failing this test.
        try {
            await(manager.waitForPendingWrites());
        } catch (const std::exception &error) {
            ADD_FAILURE() << "pending writes did not finish: " << error.what();
        }
    }

    QUuid finish(const QUuid &serviceId, const QString &output = QString())
    {
        manager.setActiveDraft(makeDraft(serviceId));
        manager.finishRun(serviceId, ServiceRunStopReason::exited, 0, output);
        return *manager.latestAddedRecordID();
    }

    ServiceRunHistoryRepository repository {dataFile(historyFile)};
    ServiceRunHistoryManager manager {repository};
    const QUuid serviceA = QUuid::createUuid();
    const QUuid serviceB = QUuid::createUuid();
};

} // namespace

TEST_F(RunHistoryManager, FinishRunRecordsTheDraftWithItsOutputCutToTheLast150000Characters)
{
    const QString tail = QString(149'999, QLatin1Char('t')) + QStringLiteral("\r\n");
    const QString family = QStringLiteral("👨‍👩‍👧");
    const QString accented = QStringLiteral("e\u0301");
    const struct {
        QString output;
        QString expected;
    } rows[] = {
        {QString(50'000, QLatin1Char('h')) + tail, tail}, // 200000 characters, CR LF counted as one
        {tail, tail},                                     // exactly 150000
        {family + accented.repeated(149'999), family + accented.repeated(149'999)},
        {accented.repeated(150'001), accented.repeated(150'000)},
    };
    for (const auto &row : rows) {
        ActiveRunDraft draft = makeDraft(serviceA);
        draft.environment = {{QStringLiteral("TOKEN"), QStringLiteral("plain-secret"), true}};
        manager.setActiveDraft(draft);
        manager.updatePeakUsage(serviceA, 12.5, 1000);
        manager.finishRun(serviceA, ServiceRunStopReason::forceKilled, 137, row.output);

        EXPECT_FALSE(manager.activeDraft(serviceA));
        EXPECT_EQ(manager.latestAddedRecordID(), draft.id);
        const ServiceRunRecord record = manager.records().first();
        draft.peakCpuPercent = 12.5;
        draft.peakMemoryBytes = 1000;
        draft.environment = redactSecretEnvironmentEntries(draft.environment);
        EXPECT_EQ(record, draft.record(record.endedAt, ServiceRunStopReason::forceKilled, 137, row.expected));
    }
    await(manager.waitForPendingWrites());
    EXPECT_EQ(idsOf(storedRuns()), idsOf(manager.records()));
    // Written, the records let go of their outputs, which are read back on demand.
    EXPECT_FALSE(manager.records().first().output.isHeld());
    EXPECT_EQ(await(manager.runOutput(manager.records().first().id)), std::data(rows)[3].expected);
}

TEST_F(RunHistoryManager, WithoutAnOpenRunNothingIsRecordedAndPeaksOnlyRise)
{
    int changes = 0;
    const QObject receiver; // ends the connection with the body: the manager outlives it
    QObject::connect(&manager, &ServiceRunHistoryManager::recordsChanged, &receiver, [&] { ++changes; });
    manager.finishRun(serviceA, ServiceRunStopReason::stopped, std::nullopt, QStringLiteral("out"));
    manager.updatePeakUsage(serviceA, 99, 99);
    await(manager.waitForPendingWrites());
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(manager.activeDrafts().isEmpty());
    EXPECT_FALSE(QFile::exists(dataFile(historyFile)));

    manager.setActiveDraft(makeDraft(serviceA));
    manager.updatePeakUsage(serviceA, 40, 1'000);
    manager.updatePeakUsage(serviceA, 10, 5'000'000'000ULL);
    manager.updatePid(serviceA, 777);
    const ActiveRunDraft draft = *manager.activeDraft(serviceA);
    EXPECT_EQ(draft.peakCpuPercent, 40.0);
    EXPECT_EQ(draft.peakMemoryBytes, 5'000'000'000ULL);
    EXPECT_EQ(draft.pid, 777);
}

TEST_F(RunHistoryManager, InsertKeepsFiftyPerServiceReplacesSameIdsAndSortsStably)
{
    QStringList events;
    const QObject receiver; // ends the connections with the body: the manager outlives it
    QObject::connect(&manager, &ServiceRunHistoryManager::recordsChanged, &receiver,
                     [&] { events << QStringLiteral("records"); });
    QObject::connect(&manager, &ServiceRunHistoryManager::latestAddedRecordIDChanged, &receiver,
                     [&] { events << QStringLiteral("latest"); });
    for (int index = 0; index < 50; ++index)
        manager.insertRecord(makeRun(serviceA, 1'000 + index));
    EXPECT_EQ(events.mid(0, 2), (QStringList {QStringLiteral("records"), QStringLiteral("latest")}));

    // The 51st drops the last in list order even though it started before all of
    // them, then sorts to its place; the same id again replaces it.
    const QUuid lastInListOrder = manager.records().last().id;
    ServiceRunRecord early = makeRun(serviceA, 10);
    manager.insertRecord(early);
    early.output = QStringLiteral("again");
    manager.insertRecord(early);
    EXPECT_EQ(manager.records().size(), 50);
    EXPECT_FALSE(listed(manager.records(), lastInListOrder));
    EXPECT_EQ(manager.records().last(), early);

    // Equal start times: the later insertion is listed first.
    const ServiceRunRecord first = makeRun(serviceB, 5'000);
    const ServiceRunRecord second = makeRun(serviceB, 5'000);
    manager.insertRecord(first);
    manager.insertRecord(second);
    EXPECT_EQ(manager.records(serviceB), (QList<ServiceRunRecord> {second, first}));
}

TEST_F(RunHistoryManager, ClearingSkipsRunsStillWaitingInTheChainAndKeepsOrDiscardsTheOpenRun)
{
    finish(serviceB);
    {
        ChainGate gate(manager);
        finish(serviceA);
        manager.setActiveDraft(makeDraft(serviceA));
        auto clearing = manager.clearHistory(serviceA, false);
        gate.open();
        await(std::move(clearing));
    }
    EXPECT_EQ(manager.clearEpoch(serviceA), 1);
    EXPECT_TRUE(manager.records(serviceA).isEmpty());
    EXPECT_EQ(idsOf(storedRuns()), idsOf(manager.records()));

    // The open run was kept: it is recorded when it ends.
    const QUuid kept = manager.activeDraft(serviceA)->id;
    manager.finishRun(serviceA, ServiceRunStopReason::exited, 0, QString());
    await(manager.waitForPendingWrites());
    EXPECT_TRUE(listed(storedRuns(), kept));

    manager.setActiveDraft(makeDraft(serviceB));
    await(manager.clearHistory(serviceB, true));
    EXPECT_FALSE(manager.activeDraft(serviceB));
    manager.finishRun(serviceB, ServiceRunStopReason::exited, 0, QString());
    EXPECT_TRUE(manager.records(serviceB).isEmpty());
}

TEST_F(RunHistoryManager, ARunQueuedBehindAClearOrDeleteStaysListedAfterTheReload)
{
    const QUuid toDelete = finish(serviceA);
    for (int round = 0; round < 2; ++round) {
        ChainGate gate(manager);
        auto reloading = round == 0 ? manager.clearHistory(serviceB, false) : manager.deleteRecord(toDelete);
        const QUuid queued = finish(serviceB);
        gate.open();
        await(std::move(reloading));
        EXPECT_TRUE(listed(manager.records(), queued)) << round;
        EXPECT_TRUE(listed(storedRuns(), queued)) << round;
    }
    EXPECT_FALSE(listed(manager.records(), toDelete));
}

TEST_F(RunHistoryManager, WaitingForPendingWritesDrainsTheWholeChain)
{
    ChainGate gate(manager);
    for (int index = 0; index < 5; ++index)
        finish(serviceA, QString::number(index));
    bool drained = false;
    auto draining = track(manager.waitForPendingWrites(), drained);
    EXPECT_FALSE(waitUntil([&] { return drained; }, 200));
    gate.open();
    EXPECT_TRUE(waitUntil([&] { return drained; }));
    EXPECT_EQ(idsOf(storedRuns()), idsOf(manager.records()));
}

TEST_F(RunHistoryManager, FailedWritesLogTheirMessageAndKeepMemoryAsTheOperationLeftIt)
{
    finish(serviceA);
    // A run of a profile that is made protected below: the file holds its value in clear.
    ServiceRunRecord withProfile = makeRun(serviceB, 1'700'000'001);
    withProfile.environmentProfileName = QStringLiteral("prod");
    withProfile.environment = {{QStringLiteral("HOST"), QStringLiteral("db"), false}};
    manager.insertRecord(withProfile);
    manager.enqueueWrite([this, withProfile] { return manager.persistRun(serviceB, 0, withProfile); });
    await(manager.waitForPendingWrites());
    const QByteArray before = readFile(dataFile(historyFile));
    LogCapture logs;
    const ScopedFileSizeLimit limit(1);

    finish(serviceA);
    ServiceRunRecord blocked = makeRun(serviceA, 1'700'000'000);
    blocked.stopReason = ServiceRunStopReason::securityBlocked;
    manager.insertRecord(blocked);
    manager.enqueueWrite([this, blocked] { return manager.persistBlockedLaunch(serviceA, 0, blocked); });
    await(manager.waitForPendingWrites());
    EXPECT_EQ(manager.records().size(), 4); // failed appends stay listed

    // A failed delete or clear reloads the file, so its records come back.
    await(manager.deleteRecord(blocked.id));
    await(manager.clearHistory(serviceA, false));
    QList<QUuid> listedIds = idsOf(manager.records());
    QList<QUuid> storedIds = idsOf(storedRuns());
    std::sort(listedIds.begin(), listedIds.end());
    std::sort(storedIds.begin(), storedIds.end());
    EXPECT_EQ(listedIds, storedIds);

    await(manager.redactProtectedProfileHistory({}, {QStringLiteral("prod")}));
    EXPECT_EQ(manager.records(serviceB).first().environment.first().value, ServiceRunEnvironmentEntry::secretMask);

    const QStringList expected = {
        QStringLiteral("Failed to save run history: "), QStringLiteral("Failed to save blocked launch history: "),
        QStringLiteral("Failed to delete run history entry: "), QStringLiteral("Failed to clear run history: "),
        QStringLiteral("Failed to redact protected profile history: ")};
    // The history's own messages: the side file cannot take the runs either.
    QStringList messages = logs.messages();
    messages.removeIf([](const QString &message) { return message.contains(QStringLiteral("unwritten.jsonl")); });
    ASSERT_EQ(messages.size(), expected.size()) << messages.join(QLatin1Char('\n')).toStdString();
    for (qsizetype index = 0; index < expected.size(); ++index)
        EXPECT_TRUE(messages[index].startsWith(QStringLiteral("com.tolvenix.Velmora.general: ") + expected[index]))
            << messages[index].toStdString();
    EXPECT_EQ(readFile(dataFile(historyFile)), before);
}

TEST_F(RunHistoryManager, AppendsQueuedTogetherFailTogetherAndAreWrittenOnceWithTheNextWrite)
{
    finish(serviceA);
    await(manager.waitForPendingWrites());
    const QByteArray before = readFile(dataFile(historyFile));
    QList<QUuid> queued;
    {
        LogCapture logs;
        const ScopedFileSizeLimit limit(1);
        ChainGate gate(manager);
        queued = {finish(serviceA), finish(serviceB), finish(serviceA)};
        const QUuid cleared = finish(serviceB);
        bool clearDone = false;
        auto clearing = track(manager.clearHistory(serviceB, false), clearDone);
        gate.open();
        EXPECT_TRUE(waitUntil([&] { return clearDone; }));
        // The run of the cleared service was dropped, not kept for later.
        EXPECT_FALSE(listed(manager.unwrittenRuns(), cleared));
        // The appends' one write (kept aside nowhere either), then the clear.
        EXPECT_EQ(logs.messages().size(), 3) << logs.messages().join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(readFile(dataFile(historyFile)), before);
    queued.removeAt(1); // serviceB's, cleared meanwhile
    EXPECT_EQ(idsOf(manager.unwrittenRuns()), (QList<QUuid> {queued[1], queued[0]}));

    const QUuid last = finish(serviceA);
    await(manager.waitForPendingWrites());
    EXPECT_TRUE(manager.unwrittenRuns().isEmpty());
    const QList<QUuid> stored = idsOf(storedRuns());
    EXPECT_EQ(stored.mid(0, 3), (QList<QUuid> {last, queued[1], queued[0]}));
    EXPECT_EQ(stored.size(), 4);
}

TEST_F(RunHistoryManager, RedactionMatchesByIdThenByNameAndWritesOnlyWhenSomethingChanged)
{
    {
        // With no profiles it returns at once, without waiting for the chain.
        ChainGate gate(manager);
        bool finished = false;
        auto redaction = track(manager.redactProtectedProfileHistory({}, {}), finished);
        EXPECT_TRUE(finished);
    }
    const QUuid profileA = QUuid::createUuid();
    const QUuid profileB = QUuid::createUuid();
    const QString name = QStringLiteral("N");
    const struct {
        QSet<QUuid> ids;
        QSet<QString> names;
        bool redacted;
    } rows[] = {{{profileB}, {name}, true}, {{profileA}, {}, true}, {{profileB}, {}, false}};
    for (const auto &row : rows) {
        ServiceRunRecord record = makeRun(serviceA, 1'700'000'000);
        record.environmentProfileId = profileA;
        record.environmentProfileName = name;
        record.environment = {{QStringLiteral("HOST"), QStringLiteral("db.internal"), false},
                              {QStringLiteral("TOKEN"), ServiceRunEnvironmentEntry::secretMask, true}};
        await(repository.replaceAll({record}));
        await(manager.loadHistory());
        ActiveRunDraft draft = makeDraft(serviceB);
        draft.environmentProfileId = profileA;
        draft.environment = record.environment;
        manager.setActiveDraft(draft);

        const ino_t before = inodeOf(dataFile(historyFile));
        await(manager.redactProtectedProfileHistory(row.ids, row.names));
        QList<ServiceRunEnvironmentEntry> expected = record.environment;
        if (row.redacted)
            expected[0] = {QStringLiteral("HOST"), ServiceRunEnvironmentEntry::secretMask, true};
        EXPECT_EQ(manager.records().first().environment, expected);
        EXPECT_EQ(storedRuns().first().environment, expected);
        EXPECT_EQ(inodeOf(dataFile(historyFile)) != before, row.redacted);
        EXPECT_EQ(manager.activeDraft(serviceB)->environment,
                  row.ids.contains(profileA) ? expected : record.environment);

        // Once redacted, the same redaction changes nothing and writes nothing.
        const ino_t after = inodeOf(dataFile(historyFile));
        await(manager.redactProtectedProfileHistory(row.ids, row.names));
        EXPECT_EQ(inodeOf(dataFile(historyFile)), after);
    }
}

TEST_F(RunHistoryManager, LoadingMasksHandEditedSecretsSortsAndKeepsEveryRecordUntilTheNextInsert)
{
    QList<ServiceRunRecord> stored;
    for (int index = 0; index < 60; ++index)
        stored.append(makeRun(serviceA, 1'000 + index)); // oldest first in the file
    stored[59].environment = {{QStringLiteral("TOKEN"), QStringLiteral("hand-edited"), true}};
    writeFile(dataFile(historyFile), encodePrettyJson(stored));

    await(manager.loadHistory());
    ASSERT_EQ(manager.records().size(), 60);
    EXPECT_EQ(manager.records().first().startedAt, at(1'059));
    EXPECT_EQ(manager.records().first().environment.first().value, ServiceRunEnvironmentEntry::secretMask);
    EXPECT_FALSE(manager.latestAddedRecordID());
    manager.insertRecord(makeRun(serviceA, 2'000));
    EXPECT_EQ(manager.records().size(), 50);
}

// Before the start-up load has published, the records in memory are only the
// runs finished since start: a redaction must not rewrite the file from them.
TEST_F(RunHistoryManager, RedactionDuringTheStartUpLoadKeepsEveryStoredRun)
{
    const QUuid profile = QUuid::createUuid();
    const ServiceRunEnvironmentEntry visible {QStringLiteral("MODE"), QStringLiteral("debug"), false};
    QList<ServiceRunRecord> stored;
    for (int index = 0; index < 40; ++index) {
        ServiceRunRecord run = makeRun(serviceA, 1'700'000'000 - index);
        run.environmentProfileId = profile;
        run.environment = {visible};
        stored.append(run);
    }
    await(repository.replaceAll(stored));

    bool loaded = false;
    auto load = track(manager.loadHistory(), loaded);
    ActiveRunDraft draft = makeDraft(serviceB);
    draft.environmentProfileId = profile;
    draft.environment = {visible};
    manager.setActiveDraft(draft);
    manager.finishRun(serviceB, ServiceRunStopReason::exited, 0, QString());
    await(manager.redactProtectedProfileHistory({profile}, {}));
    EXPECT_TRUE(loaded);
    await(manager.waitForPendingWrites());

    const QList<ServiceRunRecord> runs = storedRuns();
    EXPECT_EQ(runs.size(), 41);
    EXPECT_TRUE(std::all_of(runs.begin(), runs.end(), [](const ServiceRunRecord &run) {
        return run.environment.first().value == ServiceRunEnvironmentEntry::secretMask;
    }));
    EXPECT_EQ(manager.records().size(), 41);
}

TEST_F(RunHistoryManager, RunsWithoutRoomWaitBesideTheHistoryUntilAStartWithRoomFoldsThemIn)
{
    for (int run = 0; run < 20; ++run)
        finish(serviceA, QString(10'000, QLatin1Char('x')));
    await(manager.waitForPendingWrites());
    const QByteArray before = readFile(dataFile(historyFile));
    const QString sideFile = dataFile(QStringLiteral("run-history-unwritten.jsonl"));
    QList<QUuid> quitRuns;
    {
        const NearlyFullDisk disk(static_cast<size_t>(before.size() / 2));
        LogCapture logs;
        {
            // As at quit: every service stops at once, their runs go in one write.
            const std::shared_ptr<void> held = manager.holdWrites();
            quitRuns = {finish(serviceA), finish(serviceB), finish(serviceB)};
        }
        await(manager.waitForPendingWrites());
        EXPECT_EQ(readFile(dataFile(historyFile)), before);
        EXPECT_EQ(idsOf(UnwrittenRunsFile(dataFile(historyFile)).runs()).size(), 3);
        // Cleared before the next start: it must not come back.
        await(manager.clearHistory(serviceB, false));
        EXPECT_TRUE(listed(manager.records(), quitRuns[0]));
        EXPECT_EQ(readFile(dataFile(historyFile)), before);
    }
    // A last append cut short.
    QFile torn(sideFile);
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write(R"({"id": "0B7E4C3A-1F2D)");
    torn.close();

    LogCapture logs;
    ServiceRunHistoryRepository restartedRepository(dataFile(historyFile));
    ServiceRunHistoryManager restarted(restartedRepository);
    await(restarted.loadHistory());
    EXPECT_TRUE(logs.contains(QStringLiteral("Skipped 21 bytes of run-history-unwritten.jsonl")));
    EXPECT_FALSE(QFile::exists(sideFile));
    const QList<ServiceRunRecord> stored = storedRuns();
    EXPECT_EQ(stored.size(), 21);
    EXPECT_EQ(stored.first().id, quitRuns[0]);
    EXPECT_TRUE(listed(restarted.records(), quitRuns[0]));
    EXPECT_FALSE(listed(restarted.records(), quitRuns[1]) || listed(restarted.records(), quitRuns[2]));
}

TEST(RunHistoryRedaction, ADamagedHistoryFailsTheRedactionAndIsKeptAsideMasked)
{
    const QByteArray clearValue = "hunter2-in-clear";
    const QUuid service = QUuid::createUuid();
    QList<ServiceRunRecord> runs;
    for (const qint64 started : {1'700'000'003, 1'700'000'002, 1'700'000'001}) {
        ServiceRunRecord run = makeRun(service, started);
        run.exitCode = 0;
        if (started != 1'700'000'002) {
            run.environmentProfileName = QStringLiteral("prod");
            run.environment = {{QStringLiteral("TOKEN"), QString::fromUtf8(clearValue), false}};
        }
        runs.append(run);
    }
    const QByteArray whole = encodePrettyJson(runs);
    QByteArray invalidExitCode = whole;
    invalidExitCode.replace(invalidExitCode.indexOf("\"exitCode\": 0"), 13, "\"exitCode\": 0x0");
    const struct {
        const char *what;
        QByteArray damaged;
    } cases[] = {
        {"cut mid-record", whole.left(whole.lastIndexOf(clearValue) + clearValue.size() + 3)},
        {"exit code no JSON literal", invalidExitCode},
    };
    for (const auto &damage : cases) {
        SCOPED_TRACE(damage.what);
        QDir(applicationSupportDirectory()).removeRecursively();
        writeFile(dataFile(historyFile), damage.damaged);
        ServiceRunHistoryRepository repository(dataFile(historyFile));
        ServiceRunHistoryManager manager(repository);
        LogCapture logs;
        await(manager.loadHistory());
        await(manager.redactProtectedProfileHistory({}, {QStringLiteral("prod")}));
        EXPECT_TRUE(logs.contains(QStringLiteral("Failed to redact protected profile history")));

        // The next write sets the file aside; the redaction then succeeds on the new one.
        manager.setActiveDraft(makeDraft(service));
        manager.finishRun(service, ServiceRunStopReason::exited, 0, QString());
        await(manager.waitForPendingWrites());
        const QStringList files = QDir(applicationSupportDirectory()).entryList(QDir::Files);
        EXPECT_EQ(files.size(), 2);
        for (const QString &file : files)
            EXPECT_FALSE(readFile(dataFile(file)).contains(clearValue)) << file.toStdString();
        const auto aside = std::find_if(files.begin(), files.end(), [](const QString &file) {
            return file.startsWith(QStringLiteral("run-history.json.unreadable-"));
        });
        ASSERT_NE(aside, files.end());
        // What parses is kept, the other profile's run as it was.
        const QByteArray kept = readFile(dataFile(*aside));
        EXPECT_TRUE(kept.contains(json::formatUuid(runs[1].id).toUtf8()));
        EXPECT_EQ(decodeJson<QList<ServiceRunRecord>>(kept).size(), 2);
        EXPECT_TRUE(logs.contains(QStringLiteral("bytes that are no JSON out of the copy of run-history.json")));
    }
}

TEST(RunHistoryFold, TheNewestFiftyRunsKeptAsideAreFoldedIn)
{
    const QUuid service = QUuid::createUuid();
    QList<ServiceRunRecord> runs;
    for (int index = 0; index < 60; ++index)
        runs.append(makeRun(service, 1'700'000'000 + index));
    UnwrittenRunsFile(dataFile(historyFile)).append(runs);
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    await(repository.loadChecked());
    std::reverse(runs.begin(), runs.end());
    EXPECT_EQ(idsOf(storedRuns()), idsOf(runs.first(50)));
}

// Another user's file is set aside as it is, even after a failed redaction asked for a masked copy.
TEST(RunHistoryRedaction, AnotherUsersHistoryIsSetAsideAsItIsAfterAFailedRedaction)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    const QByteArray damaged = R"([{"id": "0B7E4C3A-1F2D)";
    writeFile(dataFile(historyFile), damaged);
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    await(repository.loadChecked());
    EXPECT_THROW(await(repository.redactProfiles({}, {QStringLiteral("prod")})), FileStoreError);
    ASSERT_EQ(::chown(QFile::encodeName(dataFile(historyFile)).constData(), 65534, 65534), 0);
    await(repository.append(makeRun(QUuid::createUuid(), 1'700'000'000)));
    const QStringList aside = setAsideFiles(historyFile);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readFile(dataFile(aside.first())), damaged);
}
