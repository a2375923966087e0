#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ApplicationSupport.h"
#include "records/ProtectedProfilesError.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeSecretStore.h"
#include "support/KeyringTestLock.h"
#include "support/LogCapture.h"
#include "support/ProcessMemory.h"
#include "support/ThrownErrorCase.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Case = ProtectedProfilesError::Case;
using Operation = FakeSecretStore::Operation;

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());

EnvironmentVariable variable(const char *key, const char *value, bool isSecret = false)
{
    return {QUuid::createUuid(), QString::fromUtf8(key), QString::fromUtf8(value), isSecret};
}

EnvironmentProfile makeProfile(const char *name, QList<EnvironmentVariable> variables = {}, bool isProtected = false)
{
    return {QUuid::createUuid(), QString::fromUtf8(name), std::move(variables), isProtected, stamp, stamp};
}

QStringList names(const QList<EnvironmentProfile> &profiles)
{
    QStringList result;
    for (const EnvironmentProfile &profile : profiles)
        result.append(profile.name);
    return result;
}

// Lets a test hold keyring reads, so a repository request is surely still
// running while the test acts on the main thread.
class GatedSecretStore final : public SecretStoring {
public:
    explicit GatedSecretStore(std::shared_ptr<SecretStoring> inner)
        : m_inner(std::move(inner))
    {}

    std::optional<QString> readSecret(const QString &account) override
    {
        std::unique_lock lock(m_mutex);
        m_opened.wait(lock, [this] { return m_open; });
        lock.unlock();
        return m_inner->readSecret(account);
    }
    void saveSecret(const QString &account, const QString &value) override { m_inner->saveSecret(account, value); }
    void deleteSecret(const QString &account) override { m_inner->deleteSecret(account); }
    QStringList allAccounts() override { return m_inner->allAccounts(); }

    void setOpen(bool open)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_open = open;
        }
        m_opened.notify_all();
    }

private:
    std::shared_ptr<SecretStoring> m_inner;
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = true;
};

struct EnvironmentProfilesManagerTest : ::testing::Test {
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    std::shared_ptr<GatedSecretStore> gate = std::make_shared<GatedSecretStore>(secrets);
    EnvironmentProfilesRepository repository {applicationSupportDirectory() + QStringLiteral("/environments.json"),
                                              gate};
    std::shared_ptr<FakeAuthenticator> authenticator = std::make_shared<FakeAuthenticator>();
    std::shared_ptr<FakeProtectedKeyProvider> keys = std::make_shared<FakeProtectedKeyProvider>();
    QDateTime clock = stamp;
    ProtectedProfilesLockManager lockManager {authenticator, keys, [this] { return clock; }};
    EnvironmentProfilesManager manager {repository, &lockManager};

    void save(const EnvironmentProfile &profile) { await(manager.saveProfile(profile)); }
    void reload() { await(manager.reload()); }
    QMap<QString, QString> resolve(const EnvironmentProfile &profile)
    {
        return await(manager.resolvedEnvironment(profile.id, QStringLiteral("api")));
    }
};

} // namespace

TEST_F(EnvironmentProfilesManagerTest, ProfilesAreSortedByNameIgnoringCaseAndEqualNamesKeepTheirOrder)
{
    struct Row {
        QStringList given;
        QStringList published;
    };
    const Row rows[] = {
        {{QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("alpha")},
         {QStringLiteral("Alpha"), QStringLiteral("alpha"), QStringLiteral("beta")}},
        {{QStringLiteral("beta"), QStringLiteral("alpha"), QStringLiteral("Alpha")},
         {QStringLiteral("alpha"), QStringLiteral("Alpha"), QStringLiteral("beta")}},
        {{QStringLiteral("b10"), QStringLiteral("B2"), QStringLiteral("a")},
         {QStringLiteral("a"), QStringLiteral("b10"), QStringLiteral("B2")}},
    };
    for (const Row &row : rows) {
        QList<EnvironmentProfile> profiles;
        for (const QString &name : row.given)
            profiles.append({QUuid::createUuid(), name, {}, false, stamp, stamp});
        manager.applyLoadResult(profiles, {}, std::nullopt);
        EXPECT_EQ(names(manager.profiles()), row.published);
    }
}

TEST_F(EnvironmentProfilesManagerTest, LookupByIdNeedsAnId)
{
    const EnvironmentProfile profile = makeProfile("a");
    manager.applyLoadResult({profile}, {}, std::nullopt);
    EXPECT_FALSE(manager.profile(std::nullopt).has_value());
    EXPECT_FALSE(manager.profile(QUuid::createUuid()).has_value());
    EXPECT_EQ(manager.profile(profile.id), profile);
}

TEST_F(EnvironmentProfilesManagerTest, SavingAProtectedProfileKeepsItReadableAndPromptsOncePerSession)
{
    EnvironmentProfile vault = makeProfile("vault", {variable("TOKEN", "t0ken", true)}, true);
    save(vault);
    EXPECT_EQ(authenticator->prompts, QStringList {QStringLiteral("enable Protected Profiles")});
    ASSERT_EQ(manager.profiles().size(), 1);
    EXPECT_EQ(manager.profiles()[0].variables, vault.variables);
    EXPECT_TRUE(manager.lockedProfileIDs().isEmpty());

    // Within the session the key comes without a prompt.
    vault.variables.append(variable("MORE", "m"));
    save(vault);
    EXPECT_EQ(authenticator->prompts.size(), 1);
    EXPECT_EQ(manager.profiles()[0].variables, vault.variables);

    // Turning protection off asks anew once the session is over.
    lockManager.lock();
    vault.isProtected = false;
    save(vault);
    EXPECT_EQ(authenticator->prompts.size(), 2);
    EXPECT_EQ(authenticator->prompts.last(), ProtectedUnlockReason::disableProtection().text());
    EXPECT_FALSE(manager.profiles()[0].isProtected);
}

TEST_F(EnvironmentProfilesManagerTest, ACanceledPromptSavesNothing)
{
    authenticator->failure = Case::authenticationCanceled;
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { save(makeProfile("vault", {}, true)); }),
              Case::authenticationCanceled);
    EXPECT_TRUE(manager.profiles().isEmpty());
    EXPECT_TRUE(await(repository.loadProfiles()).profiles.isEmpty());
}

TEST_F(EnvironmentProfilesManagerTest, ALockForgetsProtectedVariablesOnly)
{
    const EnvironmentProfile plain = makeProfile("plain", {variable("A", "1")});
    const EnvironmentProfile vault = makeProfile("vault", {variable("B", "2")}, true);
    save(plain);

    // Without protected profiles a lock changes nothing.
    QSignalSpy profilesChanged(&manager, &EnvironmentProfilesManager::profilesChanged);
    QSignalSpy lockedChanged(&manager, &EnvironmentProfilesManager::lockedProfileIDsChanged);
    lockManager.lock();
    EXPECT_EQ(profilesChanged.count(), 0);
    EXPECT_EQ(lockedChanged.count(), 0);

    save(vault);
    lockManager.lock();
    ASSERT_EQ(manager.profiles().size(), 2);
    EXPECT_EQ(manager.profiles()[0].variables, plain.variables);
    EXPECT_TRUE(manager.profiles()[1].variables.isEmpty());
    EXPECT_EQ(manager.lockedProfileIDs(), QSet<QUuid> {vault.id});
    EXPECT_TRUE(resolve(plain).contains(QStringLiteral("A")));
    EXPECT_TRUE(manager.environmentDictionary(vault.id).isEmpty());
    EXPECT_TRUE(manager.runEnvironmentEntries(vault.id).isEmpty());
    EXPECT_TRUE(manager.runEnvironmentEntries(std::nullopt).isEmpty());
}

// Made on a thread of its own (a literal stays in the program; the search must not reuse its memory); the second
// half is sought, since a freed block starts with the allocator's links.
TEST_F(EnvironmentProfilesManagerTest, ALockWipesTheValuesItForgets)
{
    QList<EnvironmentProfile> shown; // as a screen keeps it, taken anew at each change
    const QObject receiver;          // ends the connection with the body: the manager outlives it
    QObject::connect(&manager, &EnvironmentProfilesManager::profilesChanged, &receiver,
                     [&] { shown = manager.profiles(); });
    const EnvironmentProfile vault = makeProfile("vault", {variable("TOKEN", "", true)}, true);
    save(vault);
    const QString account = EnvironmentProfilesRepository::secretAccount(vault.id, vault.variables[0].id);
    QByteArray maskedTail;
    std::thread([&] {
        QString value(8192, Qt::Uninitialized);
        for (qsizetype i = 0; i < value.size(); ++i)
            value[i] = QChar(char16_t(u'a' + QRandomGenerator::global()->bounded(26)));
        secrets->setItem(account, value);
        maskedTail = QByteArray(reinterpret_cast<const char *>(value.utf16() + 4096), 8192);
        for (char &byte : maskedTail)
            byte ^= 0x5a;
    }).join();
    lockManager.lock();
    std::optional<EnvironmentProfile> opened = // its caller holds it past the lock
        await(manager.unlockProfile(vault.id, ProtectedUnlockReason::viewProfile(vault.name)));
    secrets->deleteSecret(account);
    repository.waitForIdle();
    EXPECT_TRUE(processMemoryContains(maskedTail, 0x5a));
    lockManager.lock();
    opened.reset();
    EXPECT_TRUE(waitUntil([&] { return !processMemoryContains(maskedTail, 0x5a); }));
}

TEST_F(EnvironmentProfilesManagerTest, ResolvingALockedProfileUnlocksItWithTheLaunchReason)
{
    const EnvironmentProfile vault = makeProfile("vault", {variable("TOKEN", "t0ken", true)}, true);
    save(vault);
    lockManager.lock();

    authenticator->failure = Case::authenticationCanceled;
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { resolve(vault); }), Case::authenticationCanceled);
    EXPECT_EQ(authenticator->prompts.last(),
              ProtectedUnlockReason::launchService(QStringLiteral("api"), QStringLiteral("vault")).text());
    EXPECT_TRUE(manager.lockedProfileIDs().contains(vault.id));

    authenticator->failure.reset();
    const QMap<QString, QString> environment = resolve(vault);
    EXPECT_EQ(environment, (QMap<QString, QString> {{QStringLiteral("TOKEN"), QStringLiteral("t0ken")}}));
    EXPECT_FALSE(manager.lockedProfileIDs().contains(vault.id));
    EXPECT_EQ(manager.runEnvironmentEntries(vault.id),
              (QList<ServiceRunEnvironmentEntry> {{QStringLiteral("TOKEN"), QString(8, QChar(0x2022)), true}}));
}

TEST_F(EnvironmentProfilesManagerTest, ALockWhileAProfileIsBeingOpenedKeepsItLocked)
{
    const EnvironmentProfile vault = makeProfile("vault", {variable("TOKEN", "t0ken", true)}, true);
    save(vault);
    lockManager.lock();
    await(lockManager.unlock(ProtectedUnlockReason::viewProfile(QStringLiteral("vault"))));

    // The session is valid, so the unlock suspends only on the repository,
    // which the held keyring read keeps busy until the lock has happened.
    gate->setOpen(false);
    QCoro::Task<EnvironmentProfile> opening =
        manager.unlockProfile(vault.id, ProtectedUnlockReason::viewProfile(QStringLiteral("vault")));
    lockManager.lock();
    gate->setOpen(true);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { await(std::move(opening)); }), Case::locked);
    EXPECT_TRUE(manager.lockedProfileIDs().contains(vault.id));
    EXPECT_TRUE(manager.profiles()[0].variables.isEmpty());
}

TEST_F(EnvironmentProfilesManagerTest, UnlockingAnUnknownProfileFails)
{
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] {
                  await(manager.unlockProfile(QUuid::createUuid(), ProtectedUnlockReason::viewProfile(QString())));
              }),
              Case::decryptionFailed);
    EXPECT_TRUE(authenticator->prompts.isEmpty());
}

TEST_F(EnvironmentProfilesManagerTest, EnvironmentTrimsKeysSkipsInvalidOnesAndLetsTheLastDuplicateWin)
{
    EnvironmentProfile profile = makeProfile(
        "dev", {variable(" PATH ", "/x"), variable("1BAD", "y"), variable("", "z"), variable("PATH", "/y")});
    // The repository refuses invalid keys, so hand the profile over as a load would.
    manager.applyLoadResult({profile}, {}, std::nullopt);
    EXPECT_EQ(resolve(profile), (QMap<QString, QString> {{QStringLiteral("PATH"), QStringLiteral("/y")}}));
    // Run history keeps every variable as typed, blank and invalid keys included.
    const QList<ServiceRunEnvironmentEntry> entries = manager.runEnvironmentEntries(profile.id);
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0].key, QStringLiteral(" PATH "));
    EXPECT_EQ(entries[1].key, QStringLiteral("1BAD"));
    EXPECT_EQ(entries[2].key, QString());
    EXPECT_TRUE(await(manager.resolvedEnvironment(std::nullopt, QStringLiteral("api"))).isEmpty());
    EXPECT_TRUE(await(manager.resolvedEnvironment(QUuid::createUuid(), QStringLiteral("api"))).isEmpty());
}

TEST_F(EnvironmentProfilesManagerTest, SecretsAreLeftOutWhileKeyringGuidanceIsShown)
{
    const EnvironmentProfile profile = makeProfile("dev", {variable("TOKEN", "t0ken", true), variable("HOST", "db")});
    save(profile);
    const QString tokenAccount = EnvironmentProfilesRepository::secretAccount(profile.id, profile.variables[0].id);
    const KeychainError failure(KeychainError::Case::interactionNotAllowed);
    secrets->failOn(Operation::read, failure, tokenAccount);
    reload();
    EXPECT_EQ(manager.keychainAccessGuidance(), failure.fullMessage());
    EXPECT_EQ(resolve(profile), (QMap<QString, QString> {{QStringLiteral("HOST"), QStringLiteral("db")}}));
    // Run history still lists the secret, masked.
    const QList<ServiceRunEnvironmentEntry> entries = manager.runEnvironmentEntries(profile.id);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0], (ServiceRunEnvironmentEntry {QStringLiteral("TOKEN"), QString(8, QChar(0x2022)), true}));
    EXPECT_EQ(entries[1], (ServiceRunEnvironmentEntry {QStringLiteral("HOST"), QStringLiteral("db"), false}));

    // A save whose reload still cannot read the keyring keeps the warning up,
    // and does not wipe the unread secret.
    EnvironmentProfile edited = manager.profiles()[0];
    edited.variables[1].value = QStringLiteral("db2");
    save(edited);
    EXPECT_EQ(manager.keychainAccessGuidance(), failure.fullMessage());
    EXPECT_FALSE(resolve(profile).contains(QStringLiteral("TOKEN")));
    EXPECT_EQ(secrets->items().value(tokenAccount), QStringLiteral("t0ken"));

    // Once the keyring answers, a save clears it and the secret is back.
    secrets->clearFailures();
    save(edited);
    EXPECT_FALSE(manager.keychainAccessGuidance().has_value());
    EXPECT_EQ(resolve(profile).value(QStringLiteral("TOKEN")), QStringLiteral("t0ken"));
}

TEST_F(EnvironmentProfilesManagerTest, AKeyringFailureOfASaveSetsGuidanceAndChangesNothing)
{
    const EnvironmentProfile profile = makeProfile("dev", {variable("TOKEN", "t0ken", true)});
    const KeychainError failure(KeychainError::Case::userDenied);
    secrets->failOn(Operation::save, failure);
    EXPECT_THROW(save(profile), KeychainError);
    EXPECT_EQ(manager.keychainAccessGuidance(), failure.fullMessage());
    EXPECT_TRUE(manager.profiles().isEmpty());
}

TEST_F(EnvironmentProfilesManagerTest, DeletingAProtectedProfileAsksForTheKey)
{
    const EnvironmentProfile vault = makeProfile("vault", {variable("TOKEN", "t0ken", true)}, true);
    save(vault);
    lockManager.lock();
    await(manager.deleteProfile(vault.id));
    EXPECT_EQ(authenticator->prompts.last(), ProtectedUnlockReason::editProfile(QStringLiteral("vault")).text());
    EXPECT_TRUE(manager.profiles().isEmpty());
    EXPECT_TRUE(manager.lockedProfileIDs().isEmpty());
    EXPECT_TRUE(secrets->items().isEmpty());
}

namespace {

QString environmentsPath()
{
    return records_test::dataFile(QStringLiteral("environments.json"));
}

// One run of the application over the keyring and the data folder.
struct KeyringSession {
    EnvironmentProfilesRepository repository {environmentsPath()};
    ProtectedProfilesLockManager lockManager {std::make_shared<FakeAuthenticator>(),
                                              std::make_shared<FakeProtectedKeyProvider>()};
    EnvironmentProfilesManager manager {repository, &lockManager};

    // The secret as the screens and a launch get it, its profile unlocked first.
    QString shownValue(const QUuid &id)
    {
        await(manager.reload());
        QString launched = await(manager.resolvedEnvironment(id, QStringLiteral("api")))
                               .value(QStringLiteral("TOKEN"), QStringLiteral("<left out>"));
        EXPECT_EQ(manager.profile(id)->variables.value(0).value, launched);
        return launched;
    }
};

} // namespace

// A record that lost track of its secret's item shows the newest other item's value, says so, and its next save
// names that item again: no save deletes the value meanwhile.
TEST(EnvironmentProfilesManagerKeyring, ARecordThatLostItsItemKeepsItsSecret)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore keyring;
    const auto edit = [](const char *before, const char *after) {
        records_test::writeFile(environmentsPath(), records_test::readFile(environmentsPath()).replace(before, after));
    };
    struct Row {
        const char *name;
        bool isProtected;
        int changes;                                 // values stored after the first
        std::function<void(const QString &)> damage; // given the account of the variable's plain item
        qint64 recoveredGeneration;
    };
    const Row rows[] = {
        {"generation renamed in the file", false, 1,
         [&](const QString &) { edit("\"secretGeneration\"", "\"secretGenerat1on\""); }, 1},
        {"record names a missing generation, an older one is there", false, 2,
         [&](const QString &plain) {
             keyring.saveSecret(plain, QStringLiteral("stale"));
             edit("\"secretGeneration\": 2", "\"secretGeneration\": 3");
         },
         2},
        {"protected record names a missing generation", true, 1,
         [&](const QString &plain) {
             keyring.saveSecret(plain + QStringLiteral(".2"), *keyring.readSecret(plain + QStringLiteral(".1")));
             keyring.deleteSecret(plain + QStringLiteral(".1"));
         },
         2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        KeyringTestLock::removeAllItems();
        QFile::remove(environmentsPath());
        EnvironmentProfile profile = makeProfile("Alpha", {variable("TOKEN", "value-0", true)}, row.isProtected);
        const QString plain = EnvironmentProfilesRepository::secretAccount(profile.id, profile.variables[0].id);
        const QString recovered = plain + QLatin1Char('.') + QString::number(row.recoveredGeneration);
        const QString value = QStringLiteral("value-%1").arg(row.changes);
        {
            KeyringSession first;
            for (int change = 0; change <= row.changes; ++change) {
                profile.variables[0].value = QStringLiteral("value-%1").arg(change);
                await(first.manager.saveProfile(profile));
            }
        }
        row.damage(plain);

        KeyringSession next;
        LogCapture log;
        EXPECT_EQ(next.shownValue(profile.id), value);
        EXPECT_EQ(next.manager.recoveredSecrets(), (QList<EnvironmentProfilesRepository::RecoveredSecret> {
                                                       {QStringLiteral("Alpha"), QStringLiteral("TOKEN")}}));
        EXPECT_FALSE(log.contains(QStringLiteral("value-")));

        EnvironmentProfile renamed = *next.manager.profile(profile.id);
        renamed.name = QStringLiteral("Beta");
        await(next.manager.saveProfile(renamed));
        EXPECT_EQ(keyring.allAccounts(), QStringList {recovered}); // the restart below reads the value from it

        KeyringSession after;
        EXPECT_EQ(after.shownValue(profile.id), value);
        EXPECT_TRUE(after.manager.recoveredSecrets().isEmpty());
    }
}
