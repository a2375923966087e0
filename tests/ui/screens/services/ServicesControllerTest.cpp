#include "execution/ServiceManagerFixture.h"

#include "execution/CommandThreatScanner.h"
#include "execution/SudoHelper.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"
#include "ui/screens/services/ServicesController.h"

#include <QCoroFuture>
#include <QPromise>
#include <QTemporaryDir>
#include <QTest>

// The controller over a real service manager on fake authentication, keys,
// keyring and terminal, with children run by /bin/sh.
struct ServicesControllerTest : ServiceManagerTest {
    ServicesController controller {manager, profiles, lockManager, history};

    // A locked protected profile whose secret lives in the (fake) keyring.
    EnvironmentProfile lockedVault()
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        EnvironmentProfile vault {
            QUuid::createUuid(), QStringLiteral("vault"), {variable("TOKEN", "t0ken", true)}, true, now, now};
        await(profiles.saveProfile(vault));
        lockManager.lock();
        return vault;
    }
};

TEST_F(ServicesControllerTest, ReviewThenRunAnywayAsksForTheSudoPasswordWithTheApproval)
{
    const ManagedService service = addService(QStringLiteral("peek"), QStringLiteral("echo .ssh; echo sudo"));
    await(controller.launchService(service, SudoLaunchAction::restart));
    ASSERT_TRUE(controller.commandThreatRequest());
    const CommandThreatReviewRequest review = *controller.commandThreatRequest();
    EXPECT_EQ(review.serviceId, service.id);
    EXPECT_EQ(review.action, SudoLaunchAction::restart);
    EXPECT_FALSE(review.isBlocked());
    EXPECT_EQ(review.assessment.commandFingerprint, CommandThreatScanner::fingerprint(service.command));
    EXPECT_FALSE(controller.sudoRequest());

    await(controller.runAnyway(review));
    EXPECT_FALSE(controller.commandThreatRequest());
    ASSERT_TRUE(controller.sudoRequest());
    const SudoPasswordRequest sudo = *controller.sudoRequest();
    EXPECT_EQ(sudo.action, SudoLaunchAction::restart);
    ASSERT_TRUE(sudo.commandThreatApproval);
    EXPECT_EQ(sudo.commandThreatApproval->commandFingerprint, review.assessment.commandFingerprint);
    EXPECT_FALSE(running(service.id));

    // Restart of a service that is not running starts it, with no password.
    await(controller.launchWithoutPassword(sudo));
    EXPECT_FALSE(controller.sudoRequest());
    EXPECT_FALSE(controller.errorMessage()) << qPrintable(controller.errorMessage().value_or(QString()));
    ASSERT_TRUE(waitForStopped(service.id));
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(outputOf(runs(service.id).first()), QStringLiteral(".ssh\nsudo\n"));
}

// A sudo helper another user can change is refused before the password is asked for.
TEST_F(ServicesControllerTest, NoSudoPasswordIsAskedWhileTheHelperMayNotRun)
{
    QTemporaryDir programs;
    const QString helper = programs.filePath(SudoHelper::fileName);
    ChildProcessProbe::writeExecutable(helper, "#!/bin/sh\n");
    ASSERT_TRUE(QFile::setPermissions(programs.path(), QFile::permissions(programs.path()) | QFile::WriteOther));
    manager.setSudoHelperCandidates({helper});
    const ManagedService service = addService(QStringLiteral("root"), QStringLiteral("sudo id -u"));
    const CommandThreatApproval approval {CommandThreatScanner::fingerprint(service.command)};
    await(controller.launchService(service, SudoLaunchAction::start, approval));
    EXPECT_FALSE(controller.sudoRequest());
    EXPECT_EQ(controller.errorMessage(),
              QStringLiteral("Failed to launch: Velmora's sudo helper “%1” lies in a folder another user can write.")
                  .arg(helper));
}

TEST_F(ServicesControllerTest, BlockedCommandOnlyClosesAndDeletedServiceCannotRunAnyway)
{
    const ManagedService wipe = addService(QStringLiteral("wipe"), QStringLiteral("rm -rf /"));
    await(controller.launchService(wipe, SudoLaunchAction::start));
    ASSERT_TRUE(controller.commandThreatRequest());
    EXPECT_TRUE(controller.commandThreatRequest()->isBlocked());
    controller.cancelThreatReview();
    EXPECT_FALSE(controller.commandThreatRequest());
    EXPECT_FALSE(running(wipe.id));
    EXPECT_FALSE(controller.errorMessage());

    const ManagedService peek = addService(QStringLiteral("peek"), QStringLiteral("echo .ssh"));
    await(controller.launchService(peek, SudoLaunchAction::start));
    ASSERT_TRUE(controller.commandThreatRequest());
    const CommandThreatReviewRequest review = *controller.commandThreatRequest();
    await(manager.deleteService(peek.id));
    await(controller.runAnyway(review));
    EXPECT_EQ(controller.errorMessage(), QStringLiteral("Service no longer exists."));
    EXPECT_FALSE(controller.commandThreatRequest());
}

TEST_F(ServicesControllerTest, LaunchErrorsFollowTheShortRuleAndStartErrorsTheFullOne)
{
    const ManagedService blank = addService(QStringLiteral("blank"), QStringLiteral("   "));
    await(controller.launchService(blank, SudoLaunchAction::start));
    EXPECT_EQ(controller.errorMessage(), QStringLiteral("No shell command was provided for this service."));
    controller.dismissError();

    const EnvironmentProfile vault = lockedVault();
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("echo api"), vault.id);

    // A dismissed prompt is the user's answer: nothing is shown.
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    await(controller.launchService(api, SudoLaunchAction::start));
    await(controller.unlockService(api));
    EXPECT_FALSE(controller.errorMessage());
    authenticator->failure.reset();

    const KeychainError denied(KeychainError::Case::userDenied);
    secrets->failOn(FakeSecretStore::Operation::read, denied);
    await(controller.launchService(api, SudoLaunchAction::start));
    EXPECT_EQ(controller.errorMessage(), denied.errorDescription());
    controller.dismissError();
    lockManager.lock();
    await(controller.unlockService(api));
    EXPECT_EQ(controller.errorMessage(), denied.fullMessage());
    controller.dismissError();
    lockManager.lock();
    await(controller.launchWithoutPassword(SudoPasswordRequest {api.id, api.name, SudoLaunchAction::restart, {}}));
    EXPECT_EQ(controller.errorMessage(), denied.fullMessage());
    EXPECT_NE(denied.fullMessage(), denied.errorDescription());
    EXPECT_FALSE(running(api.id));
}

TEST_F(ServicesControllerTest, SelectingALockedServiceAsksAtOnceAndAgainOnItsRow)
{
    const EnvironmentProfile vault = lockedVault();
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("echo api"), vault.id);
    const ManagedService plain = addService(QStringLiteral("plain"), QStringLiteral("echo plain"));
    authenticator->prompts.clear();
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;

    controller.selectService(plain);
    controller.selectService(api);
    ASSERT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 1; }));
    EXPECT_EQ(authenticator->prompts.first(),
              ProtectedUnlockReason::profileUsedBy(QStringLiteral("api"), QStringLiteral("vault")).text());
    controller.selectService(api);
    ASSERT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 2; }));
    EXPECT_EQ(controller.selectedServiceID(), api.id);
    EXPECT_FALSE(controller.errorMessage());
}

TEST_F(ServicesControllerTest, AnUnlockAnsweredAfterTheScreenClosedStillLaunches)
{
    const EnvironmentProfile vault = lockedVault();
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 30"), vault.id);
    // The person answers only when the test says so.
    QPromise<void> answer;
    answer.start();
    authenticator->answerAfter = [future = answer.future()]() -> QCoro::Task<> { co_await future; };

    authenticator->prompts.clear();
    auto screen = std::make_unique<ServicesController>(manager, profiles, lockManager, history);
    auto launch = screen->launchService(api, SudoLaunchAction::start);
    ASSERT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 1; }));
    screen.reset();
    answer.finish();

    ASSERT_TRUE(waitUntil([&] { return running(api.id); }));
    EXPECT_TRUE(lockManager.isUnlocked());
    await(manager.stop(api.id, true));
    authenticator->answerAfter = nullptr;
}

TEST_F(ServicesControllerTest, ForceKillAsksFirstAndClearsTheRequestEvenWhenTheStopFails)
{
    const ManagedService idle = addService(QStringLiteral("idle"), QStringLiteral("sleep 30"));
    controller.requestForceKill(idle);
    EXPECT_EQ(controller.forceTerminateMessage(),
              QStringLiteral("This will immediately kill idle. This action requires explicit confirmation."));
    controller.cancelForceKill();
    EXPECT_FALSE(controller.confirmForceKill());
    await(controller.forceKillService());
    EXPECT_FALSE(controller.errorMessage());

    // Not running: the stop fails, the alert still goes away.
    controller.requestForceKill(idle);
    await(controller.forceKillService());
    EXPECT_FALSE(controller.confirmForceKill());
    EXPECT_EQ(controller.errorMessage(), QStringLiteral("Service is not running."));
    controller.dismissError();

    await(controller.launchService(idle, SudoLaunchAction::start));
    ASSERT_TRUE(running(idle.id));
    controller.requestForceKill(idle);
    await(controller.forceKillService());
    EXPECT_FALSE(controller.confirmForceKill());
    ASSERT_TRUE(waitForStopped(idle.id));
    EXPECT_EQ(runs(idle.id).first().stopReason, ServiceRunStopReason::forceKilled);
}

TEST_F(ServicesControllerTest, RunningServiceStartsStreamsStopsAndLandsInHistory)
{
    const ManagedService ticker =
        addService(QStringLiteral("ticker"), QStringLiteral("echo ready; while true; do sleep 0.1; done"));
    controller.setSelectedServiceID(ticker.id);
    await(controller.launchService(ticker, SudoLaunchAction::start));
    ASSERT_TRUE(waitForOutput(ticker.id, QStringLiteral("ready")));
    EXPECT_EQ(controller.runtimeEntry(ticker.id).state, ServiceLifecycleState::running);

    // Starting again while it runs is refused by the manager, and shown.
    await(controller.launchService(ticker, SudoLaunchAction::start));
    EXPECT_EQ(controller.errorMessage(), QStringLiteral("Service is already running."));
    controller.dismissError();
    controller.editService(ticker);
    EXPECT_EQ(controller.errorMessage(), QStringLiteral("Stop the service before editing it."));
    EXPECT_FALSE(controller.editorMode());
    controller.dismissError();

    await(controller.stopService(ticker));
    ASSERT_TRUE(waitForStopped(ticker.id));
    ASSERT_EQ(runs(ticker.id).size(), 1);
    EXPECT_EQ(runs(ticker.id).first().stopReason, ServiceRunStopReason::stopped);
    EXPECT_EQ(controller.runtimeEntry(ticker.id).state, ServiceLifecycleState::stopped);
    EXPECT_FALSE(controller.errorMessage());
}

TEST_F(ServicesControllerTest, SaveSelectsTheServiceAndDeleteClearsOnlyItsOwnSelection)
{
    ManagedService draft = ServicesController::newServiceDraft();
    draft.name = QStringLiteral("fresh");
    draft.command = QStringLiteral("echo fresh");
    await(controller.saveEditedService(draft));
    EXPECT_EQ(controller.selectedServiceID(), draft.id);
    ASSERT_TRUE(manager.service(draft.id));

    controller.editService(*manager.service(draft.id));
    ASSERT_TRUE(waitUntil([&] { return controller.editorMode().has_value(); }));
    EXPECT_EQ(controller.editorMode()->id(), draft.id.toString(QUuid::WithoutBraces).toUpper());

    const ManagedService other = addService(QStringLiteral("other"), QStringLiteral("echo other"));
    await(controller.deleteEditedService(ServiceEditorMode::edit(other)));
    EXPECT_EQ(controller.selectedServiceID(), draft.id);
    await(controller.deleteEditedService(ServiceEditorMode::create()));
    await(controller.deleteEditedService(ServiceEditorMode::edit(draft)));
    EXPECT_FALSE(controller.selectedServiceID());
    EXPECT_FALSE(manager.service(draft.id));
    EXPECT_FALSE(controller.errorMessage());
}

TEST_F(ServicesControllerTest, AFlowWhoseScreenWentAwayWritesNothing)
{
    const EnvironmentProfile vault = lockedVault();
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("echo .ssh"), vault.id);
    keys->setHolding(true);
    auto doomed = std::make_unique<ServicesController>(manager, profiles, lockManager, history);
    const QCoro::Task<> launch = doomed->launchService(api, SudoLaunchAction::start);
    const QCoro::Task<> unlock = doomed->unlockService(api);
    ASSERT_TRUE(waitUntil([&] { return keys->pendingCount() >= 1; }));
    doomed.reset();
    keys->releasePending();
    ASSERT_TRUE(
        waitUntil([&] { return keys->pendingCount() == 0 && !profiles.lockedProfileIDs().contains(vault.id); }));
    QTest::qWait(20);
    EXPECT_FALSE(running(api.id));
}

TEST_F(ServicesControllerTest, AHistoryThatCannotBeSavedIsShownOnceAndItsRunsReachTheFileLater)
{
    const ManagedService ticker = addService(QStringLiteral("ticker"), QStringLiteral("sleep 30"));
    const auto runOnce = [&] {
        await(controller.launchService(ticker, SudoLaunchAction::start));
        await(controller.stopService(ticker));
        ASSERT_TRUE(waitForStopped(ticker.id));
        await(history.waitForPendingWrites());
    };
    {
        const ScopedFileSizeLimit diskFull(1);
        runOnce();
        ASSERT_TRUE(controller.errorMessage());
        EXPECT_TRUE(controller.errorMessage()->startsWith(QStringLiteral("The run history couldn’t be saved.")));
        EXPECT_TRUE(controller.errorMessage()->contains(QStringLiteral("run-history.json")));
        controller.dismissError();
        runOnce(); // the same run of failures: not said again
        EXPECT_FALSE(controller.errorMessage());
    }
    runOnce();
    EXPECT_EQ(await(historyRepository.load()).size(), 3);
    EXPECT_TRUE(history.unwrittenRuns().isEmpty());

    // A run whose write fails at quit is named in the log.
    await(controller.launchService(ticker, SudoLaunchAction::start));
    LogCapture logs;
    const ScopedFileSizeLimit diskFull(1);
    await(manager.prepareForTermination());
    EXPECT_TRUE(logs.contains(QStringLiteral("Run history entry not saved at quit: run ")));
}
