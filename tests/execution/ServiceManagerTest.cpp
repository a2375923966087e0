#include "ServiceManagerFixture.h"

#include "execution/CommandThreatScanner.h"
#include "execution/SudoHelper.h"
#include "profiles/KeychainSecretStore.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "records/FileSystemCalls.h"
#include "records/JsonCodec.h"
#include "records/PersistedManagedServiceRecord.h"
#include "records/UserPerceivedText.h"
#include "support/FakeSudo.h"
#include "support/KeyringTestLock.h"
#include "support/StoredProtectedProfile.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>
#include <thread>

using Case = ServiceManagerError::Case;

namespace {

QByteArray storedHistory(const QString &folder)
{
    QFile file(folder + QStringLiteral("/run-history.json"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(ServiceManagerTest, StartRoadRefusesInItsOrderAndRecordsEachBlockedLaunch)
{
    const ManagedService blank = addService(QStringLiteral("blank"), QStringLiteral("  \n\t"));
    const ManagedService critical = addService(QStringLiteral("wipe"), QStringLiteral("rm -rf /"));
    const ManagedService risky = addService(QStringLiteral("peek"), QStringLiteral("echo .ssh"));

    // An id that names no service: start ends quietly, the check names the cause.
    const QUuid unknown = QUuid::createUuid();
    await(manager.start(unknown));
    EXPECT_FALSE(manager.runtime().contains(unknown));
    QString message;
    EXPECT_EQ(serviceErrorCase([&] { manager.prepareLaunch(unknown, std::nullopt); }, &message), Case::launchFailed);
    EXPECT_EQ(message, QStringLiteral("Failed to launch: Service no longer exists."));

    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(blank.id)); }, &message), Case::missingCommand);
    EXPECT_EQ(message, QStringLiteral("No shell command was provided for this service."));
    EXPECT_TRUE(runs(blank.id).isEmpty());

    // No approval lets a critical finding through; every attempt leaves a record.
    const CommandThreatApproval criticalApproval {CommandThreatScanner::fingerprint(critical.command)};
    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(critical.id, nullptr, criticalApproval)); }, &message),
              Case::commandThreatBlocked);
    EXPECT_EQ(message, QStringLiteral("Velmora blocked a command that matched a critical destructive pattern."));
    EXPECT_EQ(serviceErrorCase([&] { manager.prepareLaunch(critical.id, std::nullopt); }), Case::commandThreatBlocked);
    ASSERT_EQ(runs(critical.id).size(), 2);
    const ServiceRunRecord blocked = runs(critical.id).first();
    EXPECT_EQ(blocked.stopReason, ServiceRunStopReason::securityBlocked);
    ASSERT_TRUE(blocked.securityScan);
    EXPECT_EQ(blocked.securityScan->outcome, ServiceRunSecurityOutcome::blocked);
    await(history.waitForPendingWrites());
    EXPECT_EQ(await(historyRepository.load()).size(), 2);

    // Other findings need the approval of this very command text.
    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(risky.id)); }, &message), Case::commandThreatReviewRequired);
    EXPECT_EQ(message, QStringLiteral("Review the detected command security findings before launching this service."));
    const CommandThreatApproval olderApproval {CommandThreatScanner::fingerprint(risky.command)};
    ManagedService edited = risky;
    edited.command = QStringLiteral("echo .ssh; echo again");
    await(manager.saveService(edited));
    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(risky.id, nullptr, olderApproval)); }),
              Case::commandThreatReviewRequired);
    EXPECT_TRUE(runs(risky.id).isEmpty());

    const CommandThreatApproval approval {CommandThreatScanner::fingerprint(edited.command)};
    await(manager.start(risky.id, nullptr, approval));
    ASSERT_TRUE(waitForStopped(risky.id));
    ASSERT_EQ(runs(risky.id).size(), 1);
    const ServiceRunRecord approved = runs(risky.id).first();
    EXPECT_EQ(approved.stopReason, ServiceRunStopReason::exited);
    ASSERT_TRUE(approved.securityScan);
    EXPECT_EQ(approved.securityScan->outcome, ServiceRunSecurityOutcome::approved);
    EXPECT_TRUE(outputOf(approved).contains(QStringLiteral("again")));
}

TEST_F(ServiceManagerTest, ExitBooksTheRunWithItsCodeAndOnlyAFailureGetsTheSuffix)
{
    struct Row {
        QString command;
        qint32 exitCode;
        QString expectedOutput;
    };
    const Row rows[] = {
        {QStringLiteral("printf 'done'"), 0, QStringLiteral("done")},
        {QStringLiteral("printf 'oops'; exit 127"), 127, QStringLiteral("oops\n[Exited with code 127]")},
    };
    for (const Row &row : rows) {
        const ManagedService service = addService(row.command, row.command);
        await(manager.start(service.id));
        ASSERT_TRUE(waitForStopped(service.id)) << qPrintable(row.command);
        EXPECT_EQ(entry(service.id), ServiceRuntimeInfo::fresh(service.id)) << qPrintable(row.command);
        ASSERT_EQ(runs(service.id).size(), 1);
        const ServiceRunRecord run = runs(service.id).first();
        EXPECT_EQ(run.stopReason, ServiceRunStopReason::exited);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(outputOf(run), row.expectedOutput);
        ASSERT_TRUE(run.securityScan);
        EXPECT_EQ(run.securityScan->outcome, ServiceRunSecurityOutcome::noFindings);
    }
}

TEST_F(ServiceManagerTest, OverlappingStartsLaunchOneChild)
{
    const EnvironmentProfile vault = saveProfile(QStringLiteral("vault"), {variable("A", "1")}, true);
    lockManager.lock();
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("sleep 30"), vault.id);

    // The first start waits for the key; a second click meanwhile must not launch again.
    keys->setHolding(true);
    const auto first = std::make_shared<BackgroundTask>();
    const QCoro::Task<> firstTask = runInBackground(manager.start(service.id), first);
    ASSERT_TRUE(waitUntil([&] { return keys->pendingCount() == 1; }));
    QString message;
    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(service.id)); }, &message), Case::alreadyRunning);
    EXPECT_EQ(message, QStringLiteral("Service is already running."));

    keys->releasePending();
    ASSERT_TRUE(waitUntil([&] { return first->done; }));
    EXPECT_FALSE(first->error);
    ASSERT_TRUE(running(service.id));
    EXPECT_EQ(serviceErrorCase([&] { await(manager.saveService(service)); }), Case::editingRunningService);
    EXPECT_EQ(manager.launchGeneration().value(service.id), 1u);
    await(manager.stop(service.id, true));
}

TEST_F(ServiceManagerTest, ProtectedProfileReachesTheChildWhileTheRunRecordMasksEveryValue)
{
    const EnvironmentProfile vault = saveProfile(
        QStringLiteral("vault"), {variable("TOKEN", "s3cr3t-token", true), variable("REGION", "eu-north-7")}, true);
    lockManager.lock();
    ASSERT_TRUE(profiles.lockedProfileIDs().contains(vault.id));
    const ManagedService service = addService(
        QStringLiteral("api"),
        QStringLiteral("[ \"$TOKEN\" = s3cr3t-token ] && [ \"$REGION\" = eu-north-7 ] && echo env-ok"), vault.id);
    EXPECT_TRUE(manager.usesProtectedProfile(service));

    authenticator->prompts.clear();
    await(manager.start(service.id));
    ASSERT_EQ(authenticator->prompts.size(), 1);
    EXPECT_EQ(authenticator->prompts.first(),
              ProtectedUnlockReason::launchService(QStringLiteral("api"), QStringLiteral("vault")).text());
    EXPECT_FALSE(manager.usesProtectedProfile(service));
    ASSERT_TRUE(waitForStopped(service.id));

    const ServiceRunRecord run = runs(service.id).first();
    EXPECT_EQ(outputOf(run), QStringLiteral("env-ok\n"));
    EXPECT_EQ(run.environmentProfileName, QStringLiteral("vault"));
    EXPECT_EQ(run.environmentProfileId, vault.id);
    ASSERT_EQ(run.environment.size(), 2);
    for (const ServiceRunEnvironmentEntry &recorded : run.environment) {
        EXPECT_EQ(recorded.value, ServiceRunEnvironmentEntry::secretMask) << qPrintable(recorded.key);
        EXPECT_TRUE(recorded.isSecret);
    }
    await(history.waitForPendingWrites());
    const QByteArray stored = storedHistory(folder);
    EXPECT_TRUE(stored.contains("TOKEN"));
    EXPECT_FALSE(stored.contains("s3cr3t-token"));
    EXPECT_FALSE(stored.contains("eu-north-7"));
}

TEST_F(ServiceManagerTest, TerminalServiceIsHandedOverUntrackedAndItsFolderGoesAtQuit)
{
    const EnvironmentProfile plain = saveProfile(QStringLiteral("plain"), {variable("GREETING", "hello")}, false);
    const ManagedService service = addService(QStringLiteral("term"), QStringLiteral("echo hi"), plain.id, true);
    QString script;
    terminal->onLaunch = [&](const QString &path) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            script = QString::fromUtf8(file.readAll());
    };
    const auto forgetScript = qScopeGuard([&] { terminal->onLaunch = nullptr; }); // the fake outlives the body

    await(manager.start(service.id, std::make_shared<const SensitiveBytes>(QByteArrayView("password"))));
    ASSERT_EQ(terminal->launched.size(), 1);
    EXPECT_TRUE(script.contains(QStringLiteral("export GREETING='hello'")));
    EXPECT_TRUE(script.endsWith(QStringLiteral("\necho hi\n")));
    EXPECT_FALSE(script.contains(QStringLiteral("password")));
    EXPECT_EQ(entry(service.id), ServiceRuntimeInfo::fresh(service.id));
    EXPECT_TRUE(manager.launchedHandles().isEmpty());
    EXPECT_TRUE(runs(service.id).isEmpty());

    const QString scriptFolder = QFileInfo(terminal->launched.first()).path();
    EXPECT_TRUE(QFileInfo::exists(scriptFolder));
    await(manager.prepareForTermination());
    EXPECT_FALSE(QFileInfo::exists(scriptFolder));

    terminal->succeeds = false;
    QString message;
    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(service.id)); }, &message), Case::launchFailed);
    EXPECT_EQ(message, QStringLiteral("Failed to launch: Terminal launch request failed."));
}

TEST_F(ServiceManagerTest, LiveOutputIsThrottledCutAndNeverRepeated)
{
    // About 590000 characters in lines numbered 1 to 100000, then quiet.
    const ManagedService service =
        addService(QStringLiteral("chatty"), QStringLiteral("seq 1 100000; echo end-of-output; sleep 30"));
    QSignalSpy entrySignals(&manager, &ServiceManager::runtimeEntryChanged);
    QElapsedTimer clock;
    clock.start();
    await(manager.start(service.id));
    // Reconciliation ticks while the output streams leave the live output to the hand-overs.
    ASSERT_TRUE(waitUntil([&] {
        manager.applyProcessSnapshots({});
        return entry(service.id).processOutput.contains(QStringLiteral("end-of-output"));
    }));
    const qint64 elapsedMs = clock.elapsed();

    const QString shown = entry(service.id).processOutput;
    EXPECT_LE(UserPerceivedText::count(shown), ServiceManager::runtimeOutputCutAbove);
    EXPECT_GE(UserPerceivedText::count(shown), ServiceManager::runtimeOutputKeep);
    // Both keep a tail of the same text, each cut at its own moment.
    const QString collected = handle(service.id)->collectedOutput();
    EXPECT_TRUE(collected.endsWith(shown) || shown.endsWith(collected));
    // Every line once, in order: the shown text is an unbroken tail of the sequence.
    QStringList lines = shown.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 2);
    lines.removeFirst(); // may have been cut in the middle
    ASSERT_EQ(lines.takeLast(), QStringLiteral("end-of-output"));
    for (qsizetype index = 1; index < lines.size(); ++index)
        ASSERT_EQ(lines[index].toInt(), lines[index - 1].toInt() + 1) << index;
    EXPECT_EQ(lines.last(), QStringLiteral("100000"));
    // One publication per interval at most, with a little slack for the state changes.
    EXPECT_LE(entrySignals.size(), elapsedMs / ServiceManager::outputPublishInterval.count() + 5);

    await(manager.stop(service.id, true));
    const ServiceRunRecord run = runs(service.id).first();
    EXPECT_EQ(run.stopReason, ServiceRunStopReason::forceKilled);
    const QString output = outputOf(run);
    EXPECT_TRUE(output.endsWith(QStringLiteral("end-of-output\n")));
    EXPECT_LE(UserPerceivedText::count(output), ServiceRunRecord::maximumOutputCharacters);
}

TEST_F(ServiceManagerTest, OutputChangesRebuildEveryPublishedOutput)
{
    // Long enough for several cuts at the front, then a stop that clears the
    // output and a second run that starts it over.
    const ManagedService service = addService(
        QStringLiteral("chatty"),
        QStringLiteral("for i in $(seq 1 40); do seq 1 3000; sleep 0.02; done; echo end-of-output; sleep 30"));
    // A reader that takes only what each change added, and the whole text
    // only when the output started over, empty or not, or was cut past what it holds.
    QString console;
    ServiceOutputPublisher::Mark seen;
    int publications = 0;
    int mismatches = 0;
    int partialCuts = 0;
    // Ends the connections before the locals above go: the fixture's teardown still books a run.
    const QObject receiver;
    QObject::connect(&manager, &ServiceManager::outputChanged, &receiver, [&](const QUuid &id) {
        ASSERT_EQ(id, service.id);
        const ServiceOutputPublisher::Output &output = manager.liveOutput(id);
        const std::optional<qsizetype> dropped = output.droppedSince(seen);
        seen = output.mark();
        if (!dropped) {
            console = output.text;
            return;
        }
        ASSERT_LE(*dropped, console.size());
        if (*dropped > 0 && *dropped < console.size())
            ++partialCuts;
        console.remove(0, *dropped);
        console.append(QStringView(output.text).mid(console.size()));
    });
    QObject::connect(&manager, &ServiceManager::runtimeEntryChanged, &receiver, [&](const QUuid &id) {
        ++publications;
        if (console != entry(id).processOutput)
            ++mismatches;
    });

    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("end-of-output")));
    EXPECT_EQ(console, entry(service.id).processOutput);
    EXPECT_GT(publications, 5);
    EXPECT_GT(partialCuts, 0);
    await(manager.stop(service.id, true));
    EXPECT_TRUE(console.isEmpty());

    await(manager.saveService({service.id, service.name, QStringLiteral("echo second run; sleep 30"), false,
                               std::nullopt, service.createdAt, service.updatedAt}));
    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("second run")));
    EXPECT_EQ(console, entry(service.id).processOutput);
    EXPECT_EQ(mismatches, 0);
}

TEST_F(ServiceManagerTest, SnapshotsUpdateARunningChildAndPublishOnlyChanges)
{
    QSignalSpy tableSignals(&manager, &ServiceManager::runtimeChanged);
    manager.applyProcessSnapshots({});
    EXPECT_EQ(tableSignals.size(), 0); // no services

    const ManagedService idle = addService(QStringLiteral("idle"), QStringLiteral("true"));
    const ManagedService service = addService(QStringLiteral("worker"), QStringLiteral("sleep 30"));
    await(manager.start(service.id));
    const qint32 pid = *entry(service.id).pid;
    EXPECT_EQ(manager.trackedProcessIDs(), QSet<qint32>({pid}));

    ProcessSnapshot other {pid + 1, QStringLiteral("/bin/other"), 99, 99, std::nullopt};
    ProcessSnapshot first {pid, QStringLiteral("/bin/sleep"), 80, 1000, std::nullopt};
    ProcessSnapshot later {pid, QStringLiteral("/bin/sleep"), 12.5, 4096, std::nullopt};
    tableSignals.clear();
    manager.applyProcessSnapshots({first, other, later}); // the later snapshot of a pid wins
    EXPECT_EQ(tableSignals.size(), 1);
    EXPECT_EQ(entry(service.id).cpuPercent, 12.5);
    EXPECT_EQ(entry(service.id).memoryBytes, 4096u);
    EXPECT_EQ(entry(idle.id), ServiceRuntimeInfo::fresh(idle.id));

    manager.applyProcessSnapshots({first, other, later});
    manager.applyProcessSnapshots({}); // a missing snapshot keeps the last figures
    EXPECT_EQ(tableSignals.size(), 1);
    EXPECT_EQ(entry(service.id).memoryBytes, 4096u);

    manager.applyProcessSnapshots({first});
    manager.applyProcessSnapshots({later});
    EXPECT_EQ(tableSignals.size(), 3);
    EXPECT_EQ(history.activeDraft(service.id)->peakCpuPercent, 80);
    EXPECT_EQ(history.activeDraft(service.id)->peakMemoryBytes, 4096u);

    later.startTime = QDateTime::currentDateTimeUtc().addSecs(-90);
    manager.applyProcessSnapshots({later});
    EXPECT_NEAR(entry(service.id).uptime.value_or(0), 90, 2);
    await(manager.stop(service.id, true));
}

TEST_F(ServiceManagerTest, VanishedChildIsBookedAsUnexpectedWithTheLastOutput)
{
    const ManagedService service =
        addService(QStringLiteral("lost"), QStringLiteral("seq 1 60000; echo last-line; sleep 30"));
    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("last-line")));
    const qint32 pid = *entry(service.id).pid;
    ServiceManagerTestAccess::loseExitReport(manager, service.id);
    EXPECT_TRUE(manager.trackedProcessIDs().contains(pid));
    ::kill(-pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return processGroupMembers(pid).isEmpty(); }));

    manager.applyProcessSnapshots({});
    EXPECT_EQ(entry(service.id), ServiceRuntimeInfo::fresh(service.id));
    EXPECT_TRUE(manager.ownedPIDs().isEmpty());
    ASSERT_EQ(runs(service.id).size(), 1);
    const ServiceRunRecord run = runs(service.id).first();
    EXPECT_EQ(run.stopReason, ServiceRunStopReason::unexpected);
    EXPECT_FALSE(run.exitCode);
    const QString output = outputOf(run);
    EXPECT_EQ(UserPerceivedText::count(output), ServiceRunRecord::maximumOutputCharacters);
    EXPECT_TRUE(output.endsWith(QStringLiteral("last-line\n")));
    await(history.waitForPendingWrites());
    EXPECT_EQ(await(historyRepository.load()).size(), 1);
}

TEST_F(ServiceManagerTest, ReapedExitNotYetHandedOverKeepsItsExitCode)
{
    const ManagedService service = addService(QStringLiteral("brief"), QStringLiteral("sleep 0.3; exit 3"));
    await(manager.start(service.id));
    const auto child = handle(service.id);
    // The main thread is busy: the exit is reaped but not handed over yet.
    while (!child->exitStatus())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    manager.applyProcessSnapshots({});
    EXPECT_TRUE(running(service.id));
    EXPECT_TRUE(history.activeDraft(service.id));

    ASSERT_TRUE(waitForStopped(service.id));
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(runs(service.id).first().stopReason, ServiceRunStopReason::exited);
    EXPECT_EQ(runs(service.id).first().exitCode, 3);
}

TEST_F(ServiceManagerTest, RestartReplacesTheChildAndDeleteStopsAndForgetsTheService)
{
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("echo up; sleep 30"));
    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("up")));
    const qint32 firstPid = *entry(service.id).pid;

    await(manager.restart(service.id));
    ASSERT_TRUE(running(service.id));
    const qint32 secondPid = *entry(service.id).pid;
    EXPECT_NE(secondPid, firstPid);
    // The stop went on once the child had gone; what it left is ended in the background.
    await(manager.waitForStopSequences());
    EXPECT_TRUE(processGroupMembers(firstPid).isEmpty());
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(runs(service.id).first().stopReason, ServiceRunStopReason::stopped);
    EXPECT_EQ(outputOf(runs(service.id).first()), QStringLiteral("up\n"));
    EXPECT_EQ(history.activeDraft(service.id)->pid, secondPid);

    await(manager.deleteService(service.id));
    await(manager.waitForStopSequences());
    EXPECT_TRUE(processGroupMembers(secondPid).isEmpty());
    EXPECT_FALSE(manager.service(service.id));
    EXPECT_FALSE(manager.runtime().contains(service.id));
    EXPECT_TRUE(manager.launchedHandles().isEmpty());
    EXPECT_TRUE(manager.ownedPIDs().isEmpty());
    EXPECT_FALSE(manager.launchGeneration().contains(service.id));
    EXPECT_TRUE(runs(service.id).isEmpty());
    EXPECT_FALSE(history.activeDraft(service.id));
    EXPECT_TRUE(await(repository.loadServices()).services.isEmpty());
    EXPECT_TRUE(await(historyRepository.load()).isEmpty());
}

TEST_F(ServiceManagerTest, QuitForceStopsEveryServiceAndItsRunsReachTheFile)
{
    const ManagedService first = addService(QStringLiteral("one"), QStringLiteral("sleep 30"));
    const ManagedService second = addService(QStringLiteral("two"), QStringLiteral("sleep 30"));
    await(manager.start(first.id));
    await(manager.start(second.id));

    await(manager.prepareForTermination());
    EXPECT_FALSE(running(first.id));
    EXPECT_FALSE(running(second.id));
    const QList<ServiceRunRecord> stored = await(historyRepository.load());
    ASSERT_EQ(stored.size(), 2);
    for (const ServiceRunRecord &run : stored)
        EXPECT_EQ(run.stopReason, ServiceRunStopReason::forceKilled);
}

// Counts the renames that put a new run history in place: one per write.
class HistoryWriteCounter final : public FileSystemCalls {
public:
    HistoryWriteCounter() { FileSystemCalls::replaceForTesting(this); }
    ~HistoryWriteCounter() override { FileSystemCalls::replaceForTesting(nullptr); }
    HistoryWriteCounter(const HistoryWriteCounter &) = delete;
    HistoryWriteCounter &operator=(const HistoryWriteCounter &) = delete;

    int rename(const char *from, const char *to) override
    {
        if (QByteArrayView(to).endsWith("/run-history.json"))
            ++writes;
        return FileSystemCalls::rename(from, to);
    }

    std::atomic<int> writes = 0;
};

TEST_F(ServiceManagerTest, QuitWithALargeHistoryRecordsEveryRunInOneWrite)
{
    // About 16 MB of stored runs, so that each write of the file takes a while.
    QList<ServiceRunRecord> stored;
    for (int service = 0; service < 8; ++service) {
        const QUuid serviceId = QUuid::createUuid();
        for (int run = 0; run < ServiceRunHistoryRepository::maximumRecordsPerService; ++run) {
            ServiceRunRecord record;
            record.id = QUuid::createUuid();
            record.serviceId = serviceId;
            record.startedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000 - run * 60, QTimeZone::utc());
            record.endedAt = record.startedAt.addSecs(30);
            record.stopReason = ServiceRunStopReason::exited;
            record.output = QString(40'000, QChar(u'a' + run % 26));
            stored.append(record);
        }
    }
    await(historyRepository.replaceAll(stored));
    await(history.loadHistory());
    QList<ManagedService> services;
    for (int index = 0; index < 8; ++index) {
        services.append(addService(QStringLiteral("svc%1").arg(index), QStringLiteral("sleep 30")));
        await(manager.start(services.constLast().id));
    }

    const HistoryWriteCounter counter;
    await(manager.prepareForTermination());
    // Every run the quit closes goes to the file in one write.
    EXPECT_EQ(counter.writes, 1);
    const QList<ServiceRunRecord> after = await(historyRepository.load());
    EXPECT_EQ(after.size(), stored.size() + services.size());
    for (const ManagedService &service : services) {
        const auto runsOfService = std::count_if(
            after.cbegin(), after.cend(), [&](const ServiceRunRecord &run) { return run.serviceId == service.id; });
        EXPECT_EQ(runsOfService, 1) << qPrintable(service.name);
    }
}

TEST_F(ServiceManagerTest, LegacyEncryptedServicesAreMigratedOnceWithTheUnlockedKey)
{
    await(manager.migrateLegacyEncryptedServices());
    EXPECT_TRUE(authenticator->prompts.isEmpty()); // nothing to migrate, nothing asked

    const QUuid id = QUuid::createUuid();
    PersistedManagedServiceRecord legacy;
    legacy.id = id;
    legacy.name = QStringLiteral("old");
    legacy.createdAt = legacy.updatedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    legacy.isProtected = true;
    legacy.encryptedPayload =
        sealProtectedPayloadRecord(ManagedServiceClearPayload {QStringLiteral("echo migrated"), false, std::nullopt},
                                   id, ProtectedPayloadKind::service, FakeProtectedKeyProvider::sampleKey());
    QFile file(repository.path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(encodePrettyJson(QList<PersistedManagedServiceRecord> {legacy}));
    file.close();

    await(manager.loadServices());
    EXPECT_EQ(manager.legacyEncryptedServiceIDs(), QSet<QUuid> {id});
    EXPECT_EQ(manager.service(id)->command, QString());
    EXPECT_EQ(entry(id), ServiceRuntimeInfo::fresh(id));

    // Starting it converts it first, then runs the real command.
    await(manager.start(id));
    EXPECT_EQ(authenticator->prompts.size(), 1);
    EXPECT_TRUE(manager.legacyEncryptedServiceIDs().isEmpty());
    EXPECT_EQ(manager.service(id)->command, QStringLiteral("echo migrated"));
    ASSERT_TRUE(waitForStopped(id));
    EXPECT_EQ(outputOf(runs(id).first()), QStringLiteral("migrated\n"));
}

TEST(SettingsBridge, StartsWithTheDefaultsAndFollowsEveryApply)
{
    SettingsBridge bridge;
    const SettingsBridge::Provider provider = bridge.provider();
    EXPECT_EQ(provider(), AppSettings());
    EXPECT_EQ(provider().defaultShell, AppSettings::defaultShellPath());
    bridge.apply({QStringLiteral("/bin/bash"), AppAppearanceMode::dark});
    EXPECT_EQ(provider().defaultShell, QStringLiteral("/bin/bash"));
    EXPECT_EQ(provider().appearanceMode, AppAppearanceMode::dark);
}

TEST_F(ServiceManagerTest, StartStillWaitingWhenTheQuitBeginsLaunchesNothing)
{
    const EnvironmentProfile vault = saveProfile(QStringLiteral("vault"), {variable("A", "1")}, true);
    lockManager.lock();
    const ManagedService running = addService(QStringLiteral("one"), QStringLiteral("sleep 30"));
    const ManagedService waiting = addService(QStringLiteral("two"), QStringLiteral("sleep 30"), vault.id);
    await(manager.start(running.id));

    keys->setHolding(true);
    const auto starting = std::make_shared<BackgroundTask>();
    const QCoro::Task<> startTask = runInBackground(manager.start(waiting.id), starting);
    ASSERT_TRUE(waitUntil([&] { return keys->pendingCount() == 1; }));
    const auto quitting = std::make_shared<BackgroundTask>();
    const QCoro::Task<> quitTask = runInBackground(manager.prepareForTermination(), quitting);
    keys->releasePending();

    ASSERT_TRUE(waitUntil([&] { return starting->done && quitting->done; }, 20000));
    EXPECT_FALSE(this->running(running.id));
    EXPECT_FALSE(this->running(waiting.id));
    EXPECT_TRUE(manager.launchedHandles().isEmpty());
    EXPECT_FALSE(history.activeDraft(waiting.id));
}

// Without a helper that may run, a sudo start or restart fails before any sudo is started to be given the password.
TEST_F(ServiceManagerTest, SudoStartWithoutAHelperThatMayRunFailsBeforeAnySudoRuns)
{
    QTemporaryDir programs;
    const QString sudo = programs.filePath(QStringLiteral("sudo")), ran = programs.filePath(QStringLiteral("sudo-ran"));
    ChildProcessProbe::writeExecutable(sudo, "#!/bin/sh\ntouch \"$0-ran\"\n");
    manager.setSudo(sudo, fakeSudoCheck(sudo));
    const QString helper = programs.filePath(SudoHelper::fileName);
    manager.setSudoHelperCandidates({helper});
    const ManagedService service = addService(QStringLiteral("root"), QStringLiteral("sudo id -u"));
    const auto password = std::make_shared<const SensitiveBytes>(QByteArrayView("pw"));
    const auto approval = [](const ManagedService &approved) {
        return CommandThreatApproval {CommandThreatScanner::fingerprint(approved.command)};
    };

    QString message;
    EXPECT_EQ(serviceErrorCase([&] { await(manager.start(service.id, password, approval(service))); }, &message),
              Case::launchFailed);
    EXPECT_TRUE(message.contains(helper)) << message.toStdString();
    EXPECT_FALSE(running(service.id));
    EXPECT_FALSE(QFile::exists(ran));

    // A restart that could not start again leaves the running service be.
    const ManagedService waiting = addService(QStringLiteral("later root"), QStringLiteral("sleep 30; sudo id -u"));
    await(manager.start(waiting.id, nullptr, approval(waiting)));
    ASSERT_TRUE(running(waiting.id));
    EXPECT_EQ(serviceErrorCase([&] { await(manager.restart(waiting.id, password, approval(waiting))); }),
              Case::launchFailed);
    EXPECT_TRUE(running(waiting.id));
    EXPECT_FALSE(QFile::exists(ran));
}

namespace {
// The managers over a protected profile an earlier run stored, its secret in the test keyring.
struct ProtectedValuesInMemoryTest : ServiceManagerTest {
    ProtectedValuesInMemoryTest()
        : ServiceManagerTest(std::make_shared<KeychainSecretStore>())
    {}
};
} // namespace

TEST_F(ProtectedValuesInMemoryTest, ALockLeavesNoCopyOfAnOpenedValueNorOfOneARunningServiceWasGiven)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock keyring;
    const StoredProtectedProfile stored;
    KeychainSecretStore keychain;
    stored.store(profilesRepository.fileURL(), keys->sampleKey(), keychain);
    await(profiles.reload());

    // Shown, as a screen holds it past the lock.
    std::optional<EnvironmentProfile> shown =
        await(profiles.unlockProfile(stored.id, ProtectedUnlockReason::viewProfile(stored.name)));
    ASSERT_FALSE(StoredProtectedProfile::valueCopies().isEmpty());
    lockManager.lock();
    shown.reset();
    EXPECT_EQ(StoredProtectedProfile::valueCopiesLeft().toStdString(), "");

    // A service of the profile, running at the lock, stopped afterwards.
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("exec sleep 600"), stored.id);
    await(manager.start(service.id));
    ASSERT_TRUE(running(service.id));
    lockManager.lock();
    await(manager.stop(service.id, false));
    ASSERT_TRUE(waitForStopped(service.id));
    await(manager.waitForStopSequences(), 10000);
    EXPECT_EQ(StoredProtectedProfile::valueCopiesLeft().toStdString(), "");
}
