#include "records/ServiceRunHistoryManager.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <csignal>

using namespace records_test;

namespace {

const char writerVariable[] = "VELMORA_TEST_HISTORY_WRITER";
const QUuid runNamespace(QStringLiteral("6a1f0e8c-3b2d-4c5e-9f70-8a1b2c3d4e5f"));

// The k-th run the writer appends; both processes can rebuild it from k alone.
ServiceRunRecord writerRun(int k)
{
    static const QUuid services[] = {QUuid(QStringLiteral("11111111-2222-4333-8444-555555555555")),
                                     QUuid(QStringLiteral("66666666-7777-4888-9999-aaaaaaaaaaaa"))};
    ServiceRunRecord record = makeRun(services[k % 2], 1'700'000'000 + k,
                                      QString(200'000, QChar(u'a' + k % 26)) + QStringLiteral("\"é😀\\\n"));
    record.id = QUuid::createUuidV5(runNamespace, QString::number(k));
    record.exitCode = k;
    return record;
}

// The list the file holds once run k has been appended.
QList<ServiceRunRecord> listAfter(int k)
{
    QList<ServiceRunRecord> list;
    for (int index = k; index >= 0 && list.size() < 2 * ServiceRunHistoryRepository::maximumRecordsPerService; --index)
        list.append(writerRun(index));
    return limitRunHistoryPerService(list);
}

[[noreturn]] void runWriter(const QString &path)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ServiceRunHistoryRepository repository(path);
    const QList<ServiceRunRecord> existing = await(repository.load());
    int next = existing.isEmpty() ? 0 : *existing.first().exitCode + 1;
    QElapsedTimer lifetime;
    lifetime.start();
    while (lifetime.elapsed() < 60'000)
        await(repository.append(writerRun(next++)));
    std::_Exit(1);
}

} // namespace

// The child re-runs this very test with the writer variable set, appending large
// runs in a loop until it is killed mid-write.
TEST(RunHistoryReliability, SigkillDuringAWriteLeavesTheOldOrTheNewList)
{
    if (qEnvironmentVariableIsSet(writerVariable))
        runWriter(qEnvironmentVariable(writerVariable));

    // Start from a full file (100 runs, about 20 MB), so every write takes a while.
    const QString path = dataFile(historyFile);
    int lastSeen = 120;
    {
        ServiceRunHistoryRepository repository(path);
        await(repository.replaceAll(listAfter(lastSeen)));
    }
    for (int round = 0; round < 5; ++round) {
        QProcess writer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(writerVariable), path);
        environment.insert(QStringLiteral("TMPDIR"), TestEnvironment::home());
        writer.setProcessEnvironment(environment);
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=RunHistoryReliability.SigkillDuringAWriteLeavesTheOldOrTheNewList")});
        ASSERT_TRUE(writer.waitForStarted());

        // Let it write at least once more than before, then kill it at a random moment.
        const QDateTime before = QFileInfo(path).lastModified();
        ASSERT_TRUE(
            waitUntil([&] { return QFileInfo::exists(path) && QFileInfo(path).lastModified() != before; }, 60'000));
        QThread::msleep(QRandomGenerator::global()->bounded(50, 400));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished());
        EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit);

        const QList<ServiceRunRecord> stored = decodeJson<QList<ServiceRunRecord>>(readFile(path));
        ASSERT_FALSE(stored.isEmpty()) << "round " << round;
        const int k = *stored.first().exitCode;
        EXPECT_GE(k, lastSeen) << "round " << round;
        EXPECT_TRUE(stored == listAfter(k)) << "round " << round << ": the file is not the list after run " << k;
        lastSeen = k;
    }
}

TEST(RunHistoryReliability, ASecretValueNeverReachesTheFile)
{
    const QByteArray secret = "s3cr3t-V4LUE-never-on-disk";
    const QUuid service = QUuid::createUuid();
    const QList<ServiceRunEnvironmentEntry> clearEnvironment = {
        {QStringLiteral("TOKEN"), QString::fromLatin1(secret), true},
        {QStringLiteral("MODE"), QStringLiteral("dev"), false}};
    const auto expectNoSecretOnDisk = [&](const char *step) {
        const QByteArray bytes = readFile(dataFile(historyFile));
        EXPECT_FALSE(bytes.contains(secret)) << step;
        // The mask: eight U+2022 BULLET, 24 bytes of UTF-8.
        EXPECT_TRUE(bytes.contains("\"value\": \"\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2"
                                   "\xe2\x80\xa2\xe2\x80\xa2\xe2\x80\xa2\""))
            << step;
    };
    // A hand-edited file with the value in clear.
    ServiceRunRecord edited = makeRun(service, 1'600'000'000);
    edited.environment = clearEnvironment;
    writeFile(dataFile(historyFile), encodePrettyJson(QList<ServiceRunRecord> {edited}));
    ServiceRunHistoryRepository repository(dataFile(historyFile));
    ServiceRunHistoryManager manager(repository);
    await(manager.loadHistory());

    // Every road a run takes to the file, each given the value in clear.
    ActiveRunDraft draft;
    draft.id = QUuid::createUuid();
    draft.serviceId = service;
    draft.startedAt = QDateTime::currentDateTimeUtc();
    draft.environment = clearEnvironment;
    manager.setActiveDraft(draft);
    manager.finishRun(service, ServiceRunStopReason::exited, 0, QString());
    await(manager.waitForPendingWrites());
    expectNoSecretOnDisk("finished run");

    ServiceRunRecord blocked = makeRun(service, 1'700'000'000);
    blocked.environment = clearEnvironment;
    manager.insertRecord(blocked);
    manager.enqueueWrite([&] { return manager.persistBlockedLaunch(service, 0, blocked); });
    await(manager.waitForPendingWrites());
    expectNoSecretOnDisk("blocked launch");

    await(repository.replaceAll({blocked}));
    expectNoSecretOnDisk("replace all");
    await(repository.append(blocked));
    expectNoSecretOnDisk("append");
    for (const ServiceRunRecord &record : manager.records())
        EXPECT_NE(record.environment.first().value.toLatin1(), secret);
}
