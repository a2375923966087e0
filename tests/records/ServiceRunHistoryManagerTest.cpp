#include "records/ServiceRunHistoryManager.h"
#include "records/UserPerceivedText.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"

#include <QPromise>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace records_test;

namespace {

const QString historyFile = QStringLiteral("run-history.json");

QCoro::Task<> waitFor(QFuture<void> future)
{
    co_await future;
}

// Holds the write chain at one point until opened, so tests can queue work behind it.
class ChainGate {
public:
    ChainGate() { m_promise->start(); }
    ~ChainGate() { open(); }
    ServiceRunHistoryManager::WriteOperation operation() const
    {
        return [future = m_promise->future()] { return waitFor(future); };
    }
    void open()
    {
        if (!m_promise->future().isFinished())
            m_promise->finish();
    }

private:
    std::shared_ptr<QPromise<void>> m_promise = std::make_shared<QPromise<void>>();
};

ActiveRunDraft makeDraft(const QUuid &serviceId)
{
    ActiveRunDraft draft;
    draft.id = QUuid::createUuid();
    draft.serviceId = serviceId;
    draft.startedAt = QDateTime::currentDateTimeUtc();
    draft.pid = 4321;
    return draft;
}

QList<ServiceRunRecord> storedRuns()
{
    return decodeJson<QList<ServiceRunRecord>>(readFile(dataFile(historyFile)));
}

QList<QUuid> idsOf(const QList<ServiceRunRecord> &records)
{
    QList<QUuid> ids;
    for (const ServiceRunRecord &record : records)
        ids.append(record.id);
    return ids;
}

ino_t inodeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

class RunHistoryManager : public ::testing::Test {
protected:
    ~RunHistoryManager() override
    {
        try {
            await(manager.waitForPendingWrites());
        } catch (...) {
        }
    }

    void finish(const QUuid &serviceId, const QString &output = QString())
    {
        manager.setActiveDraft(makeDraft(serviceId));
        manager.finishRun(serviceId, ServiceRunStopReason::exited, 0, output);
    }

    ServiceRunHistoryRepository repository{dataFile(historyFile)};
    ServiceRunHistoryManager manager{repository};
    const QUuid serviceA = QUuid::createUuid();
    const QUuid serviceB = QUuid::createUuid();
};

} // namespace

TEST_F(RunHistoryManager, FinishRunRecordsTheDraftWithItsOutputCutToTheLast150000Characters)
{
    const QString tail150k = QString(149'999, QLatin1Char('t')) + QStringLiteral("\r\n");
    const QString family = QStringLiteral("👨‍👩‍👧");
    const QString accented = QStringLiteral("e\u0301");
    const struct {
        const char *what;
        QString output;
        QString expected;
    } rows[] = {
        {"200000 characters", QString(50'000, QLatin1Char('h')) + tail150k, tail150k},
        {"exactly 150000", tail150k, tail150k},
        {"clusters count as one", family + accented.repeated(149'999), accented.repeated(149'999).prepend(family)},
        {"clusters at the cut", accented.repeated(150'001), accented.repeated(150'000)},
    };
    for (const auto &row : rows) {
        ActiveRunDraft draft = makeDraft(serviceA);
        draft.environmentProfileName = QStringLiteral("dev");
        draft.environment = {{QStringLiteral("TOKEN"), QStringLiteral("plain-secret"), true}};
        manager.setActiveDraft(draft);
        manager.updatePeakUsage(serviceA, 12.5, 1000);
        manager.finishRun(serviceA, ServiceRunStopReason::forceKilled, 137, row.output);

        ASSERT_FALSE(manager.activeDraft(serviceA)) << row.what;
        const ServiceRunRecord record = manager.records().first();
        EXPECT_EQ(record.output, row.expected) << row.what;
        EXPECT_EQ(record.id, draft.id);
        EXPECT_EQ(manager.latestAddedRecordID(), draft.id);
        EXPECT_EQ(record.stopReason, ServiceRunStopReason::forceKilled);
        EXPECT_EQ(record.exitCode, 137);
        EXPECT_EQ(record.pid, 4321);
        EXPECT_EQ(record.peakCpuPercent, 12.5);
        EXPECT_EQ(record.environmentProfileName, QStringLiteral("dev"));
        EXPECT_EQ(record.environment.first().value, ServiceRunEnvironmentEntry::secretMask);
        EXPECT_GE(record.endedAt, record.startedAt);
    }
    await(manager.waitForPendingWrites());
    EXPECT_EQ(storedRuns().size(), 4);
    EXPECT_EQ(storedRuns().first().output, rows[3].expected);
}

TEST_F(RunHistoryManager, FinishRunWithoutAnOpenRunPublishesAndWritesNothing)
{
    int changes = 0;
    QObject::connect(&manager, &ServiceRunHistoryManager::recordsChanged, [&] { ++changes; });
    manager.finishRun(serviceA, ServiceRunStopReason::stopped, std::nullopt, QStringLiteral("out"));
    await(manager.waitForPendingWrites());
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(manager.records().isEmpty());
    EXPECT_FALSE(QFile::exists(dataFile(historyFile)));
}

TEST_F(RunHistoryManager, PeaksOnlyRiseAndPidFollowsTheOpenRun)
{
    manager.updatePeakUsage(serviceA, 99, 99);  // no open run: nothing to change
    manager.updatePid(serviceA, 1);
    EXPECT_TRUE(manager.activeDrafts().isEmpty());

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
    QObject::connect(&manager, &ServiceRunHistoryManager::recordsChanged, [&] { events << QStringLiteral("records"); });
    QObject::connect(&manager, &ServiceRunHistoryManager::latestAddedRecordIDChanged,
                     [&] { events << QStringLiteral("latest"); });

    for (int index = 0; index < 50; ++index)
        manager.insertRecord(makeRun(serviceA, 1'000 + index));
    const ServiceRunRecord lastInListOrder = manager.records().last();
    EXPECT_EQ(lastInListOrder.startedAt, at(1'000));
    EXPECT_EQ(events.mid(0, 2), (QStringList{QStringLiteral("records"), QStringLiteral("latest")}));

    // The 51st drops the last in list order even when it started before all of them,
    // then sorts to its place.
    const ServiceRunRecord early = makeRun(serviceA, 10);
    manager.insertRecord(early);
    EXPECT_EQ(manager.records().size(), 50);
    EXPECT_FALSE(idsOf(manager.records()).contains(lastInListOrder.id));
    EXPECT_EQ(manager.records().last().id, early.id);

    // Same id: replaced, not duplicated.
    ServiceRunRecord replacement = early;
    replacement.output = QStringLiteral("again");
    manager.insertRecord(replacement);
    EXPECT_EQ(manager.records().size(), 50);
    EXPECT_EQ(manager.records().last().output, QStringLiteral("again"));

    // Equal start times: the later insertion is listed first.
    const ServiceRunRecord first = makeRun(serviceB, 5'000);
    const ServiceRunRecord second = makeRun(serviceB, 5'000);
    manager.insertRecord(first);
    manager.insertRecord(second);
    EXPECT_EQ(idsOf(manager.records(serviceB)), (QList<QUuid>{second.id, first.id}));
    EXPECT_EQ(manager.latestAddedRecordID(), second.id);
}

TEST_F(RunHistoryManager, ClearingSkipsARunStillWaitingInTheChain)
{
    finish(serviceB);
    ChainGate gate;
    manager.enqueueWrite(gate.operation());
    finish(serviceA);
    finish(serviceA);
    auto clearing = manager.clearHistory(serviceA, false);
    gate.open();
    await(std::move(clearing));
    EXPECT_EQ(manager.clearEpoch(serviceA), 1);
    EXPECT_TRUE(manager.records(serviceA).isEmpty());
    const QList<ServiceRunRecord> stored = storedRuns();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first().serviceId, serviceB);
}

TEST_F(RunHistoryManager, ClearingKeepsOrDiscardsTheOpenRunAsAsked)
{
    finish(serviceA);
    finish(serviceB);
    manager.setActiveDraft(makeDraft(serviceA));
    manager.setActiveDraft(makeDraft(serviceB));

    await(manager.clearHistory(serviceA, false));
    EXPECT_TRUE(manager.records(serviceA).isEmpty());
    manager.finishRun(serviceA, ServiceRunStopReason::exited, 0, QStringLiteral("done"));
    await(manager.waitForPendingWrites());
    ASSERT_EQ(manager.records(serviceA).size(), 1);
    EXPECT_EQ(manager.records(serviceA).first().output, QStringLiteral("done"));

    await(manager.clearHistory(serviceB, true));
    EXPECT_FALSE(manager.activeDraft(serviceB));
    manager.finishRun(serviceB, ServiceRunStopReason::exited, 0, QStringLiteral("gone"));
    await(manager.waitForPendingWrites());
    EXPECT_TRUE(manager.records(serviceB).isEmpty());
    EXPECT_EQ(storedRuns().size(), 1);
}

TEST_F(RunHistoryManager, ARunQueuedBehindAClearOrDeleteStaysListedAfterTheReload)
{
    finish(serviceA);
    const QUuid toDelete = manager.records().first().id;
    finish(serviceB);
    await(manager.waitForPendingWrites());

    for (int round = 0; round < 2; ++round) {
        ChainGate gate;
        manager.enqueueWrite(gate.operation());
        auto reloading = round == 0 ? manager.clearHistory(serviceB, false) : manager.deleteRecord(toDelete);
        manager.setActiveDraft(makeDraft(serviceB));
        manager.finishRun(serviceB, ServiceRunStopReason::exited, 0, QStringLiteral("round %1").arg(round));
        const QUuid queuedId = *manager.latestAddedRecordID();
        gate.open();
        await(std::move(reloading));
        EXPECT_TRUE(idsOf(manager.records()).contains(queuedId)) << round;
        EXPECT_TRUE(idsOf(storedRuns()).contains(queuedId)) << round;
    }
    EXPECT_FALSE(idsOf(manager.records()).contains(toDelete));
}

TEST_F(RunHistoryManager, WaitingForPendingWritesDrainsTheWholeChain)
{
    ChainGate gate;
    manager.enqueueWrite(gate.operation());
    for (int index = 0; index < 5; ++index)
        finish(serviceA, QString::number(index));
    bool drained = false;
    auto drain = [](ServiceRunHistoryManager &m, bool &flag) -> QCoro::Task<> {
        co_await m.waitForPendingWrites();
        flag = true;
    }(manager, drained);
    EXPECT_FALSE(waitUntil([&] { return drained; }, 200));
    gate.open();
    EXPECT_TRUE(waitUntil([&] { return drained; }));
    EXPECT_EQ(storedRuns().size(), 5);
    EXPECT_EQ(storedRuns().first().output, QStringLiteral("4"));
}

TEST_F(RunHistoryManager, DeleteRemovesTheRecordFromMemoryAndFile)
{
    finish(serviceA, QStringLiteral("keep"));
    finish(serviceA, QStringLiteral("drop"));
    const QUuid dropped = manager.records().first().id;
    await(manager.deleteRecord(dropped));
    EXPECT_EQ(manager.records().size(), 1);
    EXPECT_EQ(manager.records().first().output, QStringLiteral("keep"));
    EXPECT_EQ(manager.clearEpoch(serviceA), 0);
    EXPECT_EQ(storedRuns(), manager.records());
}

TEST_F(RunHistoryManager, FailedWritesLogTheirMessageAndKeepMemoryAsTheOperationLeftIt)
{
    finish(serviceA);
    await(manager.waitForPendingWrites());
    const QByteArray before = readFile(dataFile(historyFile));
    LogCapture logs;
    const ScopedFileSizeLimit limit(1);

    finish(serviceA);
    await(manager.waitForPendingWrites());
    EXPECT_EQ(manager.records().size(), 2);  // the record stays listed

    ServiceRunRecord blocked = makeRun(serviceA, 1'700'000'000);
    blocked.stopReason = ServiceRunStopReason::securityBlocked;
    manager.insertRecord(blocked);
    manager.enqueueWrite([this, blocked] { return manager.persistBlockedLaunch(serviceA, 0, blocked); });
    await(manager.waitForPendingWrites());

    // A failed delete or clear reloads the file, so the records come back.
    await(manager.deleteRecord(blocked.id));
    EXPECT_EQ(manager.records().size(), 1);
    await(manager.clearHistory(serviceA, false));
    EXPECT_EQ(manager.records().size(), 1);

    manager.insertRecord(makeRun(serviceB, 1'700'000'000));
    manager.records();
    ServiceRunRecord withProfile = makeRun(serviceB, 1'700'000'001);
    withProfile.environmentProfileName = QStringLiteral("prod");
    withProfile.environment = {{QStringLiteral("HOST"), QStringLiteral("db"), false}};
    manager.insertRecord(withProfile);
    await(manager.redactProtectedProfileHistory({}, {QStringLiteral("prod")}));
    EXPECT_EQ(manager.records(serviceB).first().environment.first().value, ServiceRunEnvironmentEntry::secretMask);

    const QStringList expected = {
        QStringLiteral("general: Failed to save run history: "),
        QStringLiteral("general: Failed to save blocked launch history: "),
        QStringLiteral("general: Failed to delete run history entry: "),
        QStringLiteral("general: Failed to clear run history: "),
        QStringLiteral("general: Failed to redact protected profile history: "),
    };
    const QStringList messages = logs.messages();
    ASSERT_EQ(messages.size(), expected.size()) << messages.join(QLatin1Char('\n')).toStdString();
    for (qsizetype index = 0; index < expected.size(); ++index)
        EXPECT_TRUE(messages[index].startsWith(QStringLiteral("com.tolvenix.Velmora.") + expected[index]))
            << messages[index].toStdString();
    EXPECT_EQ(readFile(dataFile(historyFile)), before);
}

TEST_F(RunHistoryManager, RedactionMatchesByIdThenByNameAndWritesOnlyWhenSomethingChanged)
{
    const QUuid profileA = QUuid::createUuid();
    const QUuid profileB = QUuid::createUuid();
    const QString name = QStringLiteral("N");
    const struct {
        const char *what;
        QSet<QUuid> ids;
        QSet<QString> names;
        bool redacted;
    } rows[] = {
        {"other id, matching name", {profileB}, {name}, true},
        {"matching id, no names", {profileA}, {}, true},
        {"other id, no names", {profileB}, {}, false},
        {"other name only", {}, {QStringLiteral("M")}, false},
    };
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
        draft.environmentProfileName = name;
        draft.environment = record.environment;
        manager.setActiveDraft(draft);

        const ino_t before = inodeOf(dataFile(historyFile));
        await(manager.redactProtectedProfileHistory(row.ids, row.names));
        const QList<ServiceRunEnvironmentEntry> expected =
            row.redacted ? QList<ServiceRunEnvironmentEntry>{{QStringLiteral("HOST"), ServiceRunEnvironmentEntry::secretMask, true},
                                                             {QStringLiteral("TOKEN"), ServiceRunEnvironmentEntry::secretMask, true}}
                         : record.environment;
        EXPECT_EQ(manager.records().first().environment, expected) << row.what;
        EXPECT_EQ(manager.activeDraft(serviceB)->environment, expected) << row.what;
        EXPECT_EQ(storedRuns().first().environment, expected) << row.what;
        EXPECT_EQ(inodeOf(dataFile(historyFile)) != before, row.redacted) << row.what;

        // Once redacted, the same redaction changes nothing and writes nothing.
        const ino_t after = inodeOf(dataFile(historyFile));
        await(manager.redactProtectedProfileHistory(row.ids, row.names));
        EXPECT_EQ(inodeOf(dataFile(historyFile)), after) << row.what;
    }
}

TEST_F(RunHistoryManager, RedactionWithNoProfilesReturnsWithoutWaitingForTheChain)
{
    ChainGate gate;
    manager.enqueueWrite(gate.operation());
    bool finished = false;
    auto redaction = [](ServiceRunHistoryManager &m, bool &flag) -> QCoro::Task<> {
        co_await m.redactProtectedProfileHistory({}, {});
        flag = true;
    }(manager, finished);
    EXPECT_TRUE(finished);
}

TEST_F(RunHistoryManager, LoadingMasksHandEditedSecretsSortsAndKeepsEveryRecordUntilTheNextInsert)
{
    QList<ServiceRunRecord> stored;
    for (int index = 0; index < 60; ++index)
        stored.append(makeRun(serviceA, 1'000 + index));  // oldest first in the file
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
