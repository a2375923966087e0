#include "AppFixture.h"

#include "app/MenuBarEnvironment.h"

#include "profiles/ProtectedPayloadSealing.h"
#include "records/JsonCodec.h"
#include "records/PersistedManagedServiceRecord.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "support/LogCapture.h"

#include <QSignalSpy>

using AppEnvironmentTest = AppFixture;

TEST_F(AppEnvironmentTest, FirstLaunchCreatesTheDataFolderAndStartsWithDefaults)
{
    const QString folder = applicationSupportDirectory();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    LogCapture log;

    build();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_FALSE(app->isReady());
    EXPECT_FALSE(app->hasCompletedLaunchSplashDelay());
    QSignalSpy ready(app.get(), &AppEnvironment::readyChanged);

    await(app->bootstrap());
    EXPECT_TRUE(app->isReady());
    EXPECT_EQ(ready.count(), 1);
    EXPECT_EQ(app->settings(), AppSettings());
    EXPECT_EQ(app->settingsBridge().current(), AppSettings());
    EXPECT_EQ(log.messages(),
              QStringList {QStringLiteral("com.tolvenix.Velmora.general: Velmora bootstrap complete — 0 services")});

    // Ready already: nothing runs again and nothing is logged.
    log.clear();
    await(app->bootstrap());
    EXPECT_TRUE(log.messages().isEmpty());
    EXPECT_EQ(ready.count(), 1);
}

TEST_F(AppEnvironmentTest, StartUpLoadsStoredSettingsServicesAndCountsThem)
{
    writeFile(dataFile(QStringLiteral("settings.json")), R"({"appearanceMode":"dark","defaultShell":"/bin/bash"})");
    build();
    addService(QStringLiteral("one"), QStringLiteral("true"));
    addService(QStringLiteral("two"), QStringLiteral("true"));
    app.reset();

    LogCapture log;
    build();
    await(app->bootstrap());
    EXPECT_EQ(app->settings(), (AppSettings {QStringLiteral("/bin/bash"), AppAppearanceMode::dark}));
    EXPECT_EQ(app->settingsBridge().current().defaultShell, QStringLiteral("/bin/bash"));
    EXPECT_TRUE(log.contains(QStringLiteral("Velmora bootstrap complete — 2 services")));
}

TEST_F(AppEnvironmentTest, CorruptSettingsAreLoggedOnceAndTheDefaultsApplied)
{
    writeFile(dataFile(QStringLiteral("settings.json")), "{ not json");
    LogCapture log;
    build();
    await(app->bootstrap());

    EXPECT_TRUE(app->isReady());
    EXPECT_EQ(app->settings(), AppSettings());
    QStringList failures;
    for (const QString &line : log.messages()) {
        if (line.contains(QStringLiteral("settings.json")))
            failures.append(line);
    }
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(
        failures.first().startsWith(QStringLiteral("com.tolvenix.Velmora.persistence: Failed to load settings.json")))
        << failures.first().toStdString();
}

TEST_F(AppEnvironmentTest, MigrationOfOlderProtectedServicesAsksOnceAndACancelIsNotLogged)
{
    const QUuid id = QUuid::createUuid();
    PersistedManagedServiceRecord legacy;
    legacy.id = id;
    legacy.name = QStringLiteral("old");
    legacy.createdAt = legacy.updatedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    legacy.isProtected = true;
    legacy.encryptedPayload =
        sealProtectedPayloadRecord(ManagedServiceClearPayload {QStringLiteral("echo migrated"), false, std::nullopt},
                                   id, ProtectedPayloadKind::service, FakeProtectedKeyProvider::sampleKey());
    writeFile(dataFile(QStringLiteral("services.json")),
              encodePrettyJson(QList<PersistedManagedServiceRecord> {legacy}));

    {
        authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
        LogCapture log;
        build();
        await(app->bootstrap());
        EXPECT_TRUE(app->isReady());
        EXPECT_EQ(authenticator->prompts.size(), 1);
        EXPECT_EQ(app->serviceManager().legacyEncryptedServiceIDs(), QSet<QUuid> {id});
        EXPECT_FALSE(log.contains(QStringLiteral("Failed to migrate")));
        EXPECT_TRUE(log.contains(QStringLiteral("Velmora bootstrap complete — 1 services")));
    }
    {
        // Any other failure is logged, and start-up still completes.
        authenticator->failure = ProtectedProfilesError::Case::authenticationFailed;
        LogCapture log;
        build();
        await(app->bootstrap());
        EXPECT_TRUE(app->isReady());
        EXPECT_TRUE(log.contains(
            QStringLiteral("com.tolvenix.Velmora.persistence: Failed to migrate legacy protected services: ")));
    }
    {
        authenticator->failure.reset();
        build();
        await(app->bootstrap());
        EXPECT_TRUE(app->serviceManager().legacyEncryptedServiceIDs().isEmpty());
        EXPECT_EQ(app->serviceManager().service(id)->command, QStringLiteral("echo migrated"));
    }
}

TEST_F(AppEnvironmentTest, SplashDelayPassesOnceAfterItsThreeSeconds)
{
    build();
    QSignalSpy completed(app.get(), &AppEnvironment::launchSplashDelayCompletedChanged);
    QElapsedTimer clock;
    clock.start();
    await(app->completeLaunchSplashDelay());
    EXPECT_GE(clock.elapsed(), 2900);
    EXPECT_TRUE(app->hasCompletedLaunchSplashDelay());
    EXPECT_TRUE(app->completeLaunchSplashDelay().isReady()); // passed: a later wait ends at once
    EXPECT_EQ(completed.count(), 1);

    // A container that goes while the delay runs ends its waiters: a cancelled
    // delay counts as passed, and nothing stays suspended.
    build();
    bool waited = false;
    auto wait = [](AppEnvironment &environment, bool &done) -> QCoro::Task<> {
        co_await environment.completeLaunchSplashDelay();
        done = true;
    };
    auto waiter = wait(*app, waited);
    EXPECT_FALSE(waited);
    app.reset();
    EXPECT_TRUE(waited);

    // A container built ready has no delay left.
    build(true);
    EXPECT_TRUE(app->isLaunchComplete());
}

TEST_F(AppEnvironmentTest, ShowServiceSelectsTheServicesSectionAndTicksEveryTime)
{
    build(true);
    const QUuid id = QUuid::createUuid();
    app->showService(id);
    EXPECT_EQ(app->selectedSection(), AppSection::services);
    EXPECT_EQ(app->selectedServiceID(), id);
    EXPECT_EQ(app->serviceNavigationTick(), 1u);
    app->showService(id);
    EXPECT_EQ(app->serviceNavigationTick(), 2u);

    // The panel's "more in app": the section, the same selection, a tick.
    app->setSelectedSection(AppSection::dashboard);
    MenuBarEnvironment::from(*app).showServicesSection();
    EXPECT_EQ(app->selectedSection(), AppSection::services);
    EXPECT_EQ(app->selectedServiceID(), id);
    EXPECT_EQ(app->serviceNavigationTick(), 3u);
}

TEST_F(AppEnvironmentTest, QuitConfirmationAnswersEveryWaiterExactlyOnce)
{
    build(true);
    // With nothing pending, resolving only hides the dialog.
    app->resolveQuitConfirmation(false);
    EXPECT_FALSE(app->isQuitConfirmationPresented());

    std::optional<bool> first;
    std::optional<bool> second;
    auto ask = [](AppEnvironment &environment, std::optional<bool> &answer) -> QCoro::Task<> {
        answer = co_await environment.presentQuitConfirmation();
    };
    auto firstTask = ask(*app, first);
    EXPECT_TRUE(app->isQuitConfirmationPresented());
    auto secondTask = ask(*app, second);
    ASSERT_TRUE(waitUntil([&] { return first.has_value(); }));
    EXPECT_FALSE(*first); // a second question answers the first one "no"
    EXPECT_TRUE(app->isQuitConfirmationPresented());

    app->resolveQuitConfirmation(true);
    ASSERT_TRUE(waitUntil([&] { return second.has_value(); }));
    EXPECT_TRUE(*second);
    EXPECT_FALSE(app->isQuitConfirmationPresented());
    EXPECT_FALSE(app->hasPendingQuitConfirmation());
    app->resolveQuitConfirmation(false); // nothing left to answer
    EXPECT_TRUE(*second);
}

TEST_F(AppEnvironmentTest, SettingsAssignmentsReachTheServiceManagersShell)
{
    build(true);
    QSignalSpy changed(app.get(), &AppEnvironment::settingsChanged);
    const AppSettings dark {QStringLiteral("/bin/sh"), AppAppearanceMode::dark};
    app->setSettings(dark);
    EXPECT_EQ(app->settingsBridge().current(), dark);
    EXPECT_EQ(changed.count(), 1);
    app->setSettings(dark);
    EXPECT_EQ(changed.count(), 1); // an equal value publishes nothing
}

TEST_F(AppEnvironmentTest, StoresAreBuiltInTheDataFolderAndOnlyBookmarksAreRead)
{
    writeFile(dataFile(QStringLiteral("bookmarks.json")), R"({"/tmp/x":"L3RtcC94"})");
    build();
    const auto stored = await(app->bookmarks().bookmarks());
    EXPECT_EQ(stored.value(QStringLiteral("/tmp/x")), QByteArray("/tmp/x"));
    EXPECT_TRUE(app->serviceManager().services().isEmpty()); // not loaded before start-up
    EXPECT_EQ(app->selectedSection(), AppSection::dashboard);
}
