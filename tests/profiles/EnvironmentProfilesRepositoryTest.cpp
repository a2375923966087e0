#include "profiles/EnvironmentProfileValidationError.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ApplicationSupport.h"
#include "records/ProtectedProfilesError.h"
#include "support/Await.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeSecretStore.h"
#include "support/ThrownErrorCase.h"
#include "support/KeyringTestLock.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

using Case = ProtectedProfilesError::Case;
using Operation = FakeSecretStore::Operation;

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());

QString environmentsPath()
{
    return applicationSupportDirectory() + QStringLiteral("/environments.json");
}

QByteArray fileBytes()
{
    QFile file(environmentsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QByteArray &bytes)
{
    QFile file(environmentsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList setAsideCopies()
{
    return QDir(applicationSupportDirectory())
        .entryList({QStringLiteral("environments.json.unreadable-*")}, QDir::Files);
}

EnvironmentVariable variable(const char *key, const QString &value, bool isSecret = false)
{
    return {QUuid::createUuid(), QString::fromUtf8(key), value, isSecret};
}

EnvironmentVariable variable(const char *key, const char *value, bool isSecret = false)
{
    return variable(key, QString::fromUtf8(value), isSecret);
}

EnvironmentProfile makeProfile(const char *name, QList<EnvironmentVariable> variables, bool isProtected = false)
{
    return {QUuid::createUuid(), QString::fromUtf8(name), std::move(variables), isProtected, stamp, stamp};
}

// A value's first save keeps the plain account; each change takes the next generation.
QString account(const EnvironmentProfile &profile, const EnvironmentVariable &v,
                std::optional<qint64> generation = std::nullopt)
{
    return EnvironmentProfilesRepository::secretAccount(profile.id, v.id, generation);
}

// A repository over the in-memory secret store, for the failure paths.
struct EnvironmentProfilesRepositoryTest : ::testing::Test {
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    EnvironmentProfilesRepository repository {environmentsPath(), secrets};
    ProtectedPayloadCrypto key = FakeProtectedKeyProvider::sampleKey(1);

    EnvironmentProfilesRepository::LoadResult load() { return await(repository.loadProfiles()); }
    QList<EnvironmentProfile> save(const EnvironmentProfile &profile,
                                   const std::optional<ProtectedPayloadCrypto> &withKey = std::nullopt)
    {
        return await(repository.saveProfile(profile, withKey));
    }
    QList<EnvironmentProfile> remove(const QUuid &id,
                                     const std::optional<ProtectedPayloadCrypto> &withKey = std::nullopt)
    {
        return await(repository.deleteProfile(id, withKey));
    }
};

} // namespace

// The whole life of one secret against the real keyring: no step leaves an
// item behind or puts the value into the file.
TEST(EnvironmentProfilesRepositoryKeyring, SecretLifecycleLeavesNoItemBehind)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore keyring;
    EnvironmentProfilesRepository repository(environmentsPath());
    const QString secretValue = QStringLiteral("s3cr3t-value");
    const auto expectNoSecretInFile = [&] { EXPECT_FALSE(fileBytes().contains(secretValue.toUtf8())); };

    EnvironmentProfile profile =
        makeProfile("prod", {variable("TOKEN", secretValue, true), variable("URL", "https://x")});
    await(repository.saveProfile(profile, std::nullopt));
    expectNoSecretInFile();
    EXPECT_EQ(keyring.allAccounts(), QStringList {account(profile, profile.variables[0])});
    EXPECT_EQ(keyring.readSecret(account(profile, profile.variables[0])), secretValue);

    EnvironmentProfilesRepository::LoadResult loaded = await(repository.loadProfiles());
    ASSERT_EQ(loaded.profiles.size(), 1);
    EXPECT_EQ(loaded.profiles[0], profile);
    EXPECT_FALSE(loaded.keychainError.has_value());

    // Emptied: the item the file names holds the empty value, and loading gives it without a failure.
    profile.variables[0].value.clear();
    await(repository.saveProfile(profile, std::nullopt));
    EXPECT_EQ(keyring.allAccounts(), QStringList {account(profile, profile.variables[0], 1)});
    EXPECT_EQ(keyring.readSecret(account(profile, profile.variables[0], 1)), QString());
    loaded = await(repository.loadProfiles());
    EXPECT_EQ(loaded.profiles[0].variables[0].value, QString());
    EXPECT_FALSE(loaded.keychainError.has_value());

    // Made plain: the item goes and the value is now the file's to keep.
    profile.variables[0].value = secretValue;
    await(repository.saveProfile(profile, std::nullopt));
    ASSERT_EQ(keyring.allAccounts().size(), 1);
    profile.variables[0].isSecret = false;
    await(repository.saveProfile(profile, std::nullopt));
    EXPECT_TRUE(keyring.allAccounts().isEmpty());
    EXPECT_TRUE(fileBytes().contains(secretValue.toUtf8()));

    // Removed: its item goes.
    profile.variables = {variable("OTHER", QStringLiteral("second secret"), true)};
    await(repository.saveProfile(profile, std::nullopt));
    ASSERT_EQ(keyring.allAccounts().size(), 1);
    profile.variables.clear();
    await(repository.saveProfile(profile, std::nullopt));
    EXPECT_TRUE(keyring.allAccounts().isEmpty());

    // Deleted with its profile.
    profile.variables = {variable("LAST", QStringLiteral("third secret"), true)};
    await(repository.saveProfile(profile, std::nullopt));
    ASSERT_EQ(keyring.allAccounts().size(), 1);
    EXPECT_TRUE(await(repository.deleteProfile(profile.id, std::nullopt)).isEmpty());
    EXPECT_TRUE(keyring.allAccounts().isEmpty());
    EXPECT_FALSE(fileBytes().contains("third secret"));
}

// A damaged current-layout file and one that is no JSON at all: loads give
// nothing, and the saves that follow keep every keyring item, also those of
// the profiles only the damaged file knew, and keep the damaged bytes aside.
TEST(EnvironmentProfilesRepositoryKeyring, CorruptFileLeavesEveryKeyringItemUntouched)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore keyring;

    struct Row {
        const char *name;
        QByteArray contents;
        const char *logged;
    };
    const Row rows[] = {
        {"marker present", R"([{"formatVersion": 1, "id": "not a uuid"}])",
         "Failed to load protected environment records"},
        {"not JSON", "\x01\x02 garbage", "Failed to migrate environments.json"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        KeyringTestLock::removeAllItems();
        for (const QString &name : setAsideCopies())
            QFile::remove(applicationSupportDirectory() + QLatin1Char('/') + name);
        const QStringList owned = {
            QStringLiteral("env.0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.11111111-2222-3333-4444-555555555555"),
            QStringLiteral("env.0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.22222222-2222-3333-4444-555555555555")};
        for (const QString &name : owned)
            keyring.saveSecret(name, QStringLiteral("value of ") + name);
        writeFile(row.contents);

        EnvironmentProfilesRepository repository(environmentsPath());
        LogCapture log;
        const EnvironmentProfilesRepository::LoadResult loaded = await(repository.loadProfiles());
        EXPECT_TRUE(loaded.profiles.isEmpty());
        EXPECT_TRUE(log.contains(QString::fromUtf8(row.logged)));

        // Two saves: the second one loads the new file cleanly, and must still
        // not take the damaged file's items for orphans.
        await(repository.saveProfile(makeProfile("first", {variable("A", "1")}), std::nullopt));
        await(repository.saveProfile(makeProfile("second", {variable("B", "2")}), std::nullopt));

        QStringList listed = keyring.allAccounts();
        listed.sort();
        EXPECT_EQ(listed, owned);
        for (const QString &name : owned)
            EXPECT_EQ(keyring.readSecret(name), QStringLiteral("value of ") + name);

        const QStringList copies = setAsideCopies();
        ASSERT_EQ(copies.size(), 1);
        QFile copy(applicationSupportDirectory() + QLatin1Char('/') + copies.first());
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), row.contents);
        EXPECT_EQ(await(repository.loadProfiles()).profiles.size(), 2);
    }
}

TEST_F(EnvironmentProfilesRepositoryTest, AbsentFileAndEmptyArrayGiveNothingAndLogNothing)
{
    LogCapture log;
    EnvironmentProfilesRepository::LoadResult loaded = load();
    EXPECT_TRUE(loaded.profiles.isEmpty());
    EXPECT_TRUE(loaded.lockedProfileIDs.isEmpty());
    EXPECT_FALSE(loaded.keychainError.has_value());

    writeFile("[]");
    loaded = load();
    EXPECT_TRUE(loaded.profiles.isEmpty());
    EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join(QLatin1Char('\n')).toStdString();
}

TEST_F(EnvironmentProfilesRepositoryTest, StoredRecordKeepsSecretsOutAndAcceptsAnyFormatVersion)
{
    const EnvironmentProfile profile = makeProfile(
        "dev", {variable("TOKEN", QStringLiteral("hunter2"), true), variable("HOST", QStringLiteral("db"))});
    save(profile);

    const QList<PersistedEnvironmentProfileRecord> records = await(repository.loadRecords());
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].formatVersion, 1);
    EXPECT_FALSE(records[0].protectionVersion.has_value());
    EXPECT_FALSE(records[0].encryptedPayload.has_value());
    ASSERT_TRUE(records[0].clearPayload.has_value());
    EXPECT_EQ(records[0].clearPayload->variables[0].value, QString());
    EXPECT_TRUE(records[0].clearPayload->variables[0].isSecret);
    EXPECT_EQ(records[0].clearPayload->variables[1].value, QStringLiteral("db"));
    EXPECT_FALSE(fileBytes().contains("hunter2"));
    EXPECT_EQ(secrets->items().value(account(profile, profile.variables[0])), QStringLiteral("hunter2"));

    writeFile(fileBytes().replace("\"formatVersion\": 1", "\"formatVersion\": 7"));
    ASSERT_TRUE(fileBytes().contains("\"formatVersion\": 7"));
    EXPECT_EQ(load().profiles, QList<EnvironmentProfile> {profile});
}

TEST_F(EnvironmentProfilesRepositoryTest, OlderLayoutIsConvertedInMemoryAndWrittenAtTheNextSave)
{
    const QByteArray older = R"([
  {"id": "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "name": "one", "isProtected": true,
   "createdAt": "2024-01-02T03:04:05Z", "updatedAt": "2024-01-02T03:04:05Z",
   "variables": [{"id": "11111111-2222-3333-4444-555555555555", "key": "TOKEN", "value": "old-clear-secret", "isSecret": true}]},
  {"id": "99999999-2222-3333-4444-555555555555", "name": "two"}
])";
    writeFile(older);
    const EnvironmentProfilesRepository::LoadResult loaded = load();
    ASSERT_EQ(loaded.profiles.size(), 2);
    EXPECT_FALSE(loaded.profiles[0].isProtected);
    EXPECT_TRUE(loaded.lockedProfileIDs.isEmpty());
    EXPECT_EQ(loaded.profiles[1].name, QStringLiteral("two"));
    EXPECT_EQ(fileBytes(), older);

    EnvironmentProfile second = loaded.profiles[1];
    second.name = QStringLiteral("two, renamed");
    save(second);
    const QList<PersistedEnvironmentProfileRecord> records = await(repository.loadRecords());
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].name, QStringLiteral("one"));
    EXPECT_EQ(records[1].name, QStringLiteral("two, renamed"));
    EXPECT_TRUE(fileBytes().contains("\"formatVersion\": 1"));
    // The older file's clear secret moved into the keyring rather than into the new file.
    EXPECT_FALSE(fileBytes().contains("old-clear-secret"));
    EXPECT_EQ(secrets->items().value(
                  QStringLiteral("env.0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.11111111-2222-3333-4444-555555555555")),
              QStringLiteral("old-clear-secret"));
    EXPECT_TRUE(setAsideCopies().isEmpty());
}

TEST_F(EnvironmentProfilesRepositoryTest, ProtectionOnAndOff)
{
    EnvironmentProfile profile = makeProfile(
        "vault",
        {variable("TOKEN", QStringLiteral("hunter2"), true), variable("PLAIN", QStringLiteral("visible-text"))}, true);
    save(profile, key);

    QList<PersistedEnvironmentProfileRecord> records = await(repository.loadRecords());
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].protectionVersion, 1);
    EXPECT_TRUE(records[0].encryptedPayload.has_value());
    EXPECT_FALSE(records[0].clearPayload.has_value());
    EXPECT_FALSE(fileBytes().contains("visible-text"));
    EXPECT_FALSE(fileBytes().contains("hunter2"));

    const EnvironmentProfilesRepository::LoadResult loaded = load();
    ASSERT_EQ(loaded.profiles.size(), 1);
    EXPECT_TRUE(loaded.profiles[0].variables.isEmpty());
    EXPECT_EQ(loaded.lockedProfileIDs, QSet<QUuid> {profile.id});

    EXPECT_EQ(await(repository.loadProtectedProfile(profile.id, key)).profile, profile);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>(
                  [&] { await(repository.loadProtectedProfile(profile.id, FakeProtectedKeyProvider::sampleKey(9))); }),
              Case::decryptionFailed);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>(
                  [&] { await(repository.loadProtectedProfile(QUuid::createUuid(), key)); }),
              Case::decryptionFailed);

    // Stored protected and no key: nothing changes, neither file nor keyring.
    const QByteArray before = fileBytes();
    const QMap<QString, QString> itemsBefore = secrets->items();
    EnvironmentProfile edited = profile;
    edited.variables[0].value = QStringLiteral("changed");
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { save(edited); }), Case::locked);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { remove(profile.id); }), Case::locked);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(secrets->items(), itemsBefore);

    // Off again: the variables come back into the file, the secret still kept out.
    profile.isProtected = false;
    save(profile, key);
    records = await(repository.loadRecords());
    EXPECT_FALSE(records[0].protectionVersion.has_value());
    EXPECT_FALSE(records[0].encryptedPayload.has_value());
    EXPECT_TRUE(fileBytes().contains("visible-text"));
    EXPECT_FALSE(fileBytes().contains("hunter2"));
    EXPECT_EQ(load().profiles, QList<EnvironmentProfile> {profile});
    EXPECT_EQ(await(repository.loadProtectedProfile(profile.id, key)).profile, profile);
}

TEST_F(EnvironmentProfilesRepositoryTest, NewProtectedProfileWithoutKeyChangesNeitherTheFileNorTheKeyring)
{
    save(makeProfile("plain", {variable("A", QStringLiteral("1"))}));
    const QByteArray before = fileBytes();
    const EnvironmentProfile profile = makeProfile("vault", {variable("TOKEN", QStringLiteral("t"), true)}, true);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { save(profile); }), Case::locked);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_FALSE(secrets->items().contains(account(profile, profile.variables[0])));
}

// Only a protected profile's own saves know its items; any other "env." item of a known form is the sweep's but one
// of a variable the file names: one changed byte loses a record its generation, and the load says where it read it.
TEST_F(EnvironmentProfilesRepositoryTest, OrphanSweepSparesProtectedProfilesNamedVariablesAndAccountsOfOtherForms)
{
    const EnvironmentProfile vault = makeProfile("vault", {variable("S", "s", true)}, true);
    save(vault, key);
    EnvironmentProfile named = makeProfile("dev", {variable("TOKEN", "first-value", true)});
    save(named);
    named.variables[0].value = QStringLiteral("second-value");
    save(named); // its item replaces the one the damaged record names
    writeFile(fileBytes().replace("\"secretGeneration\"", "\"secretGenerativn\""));
    LogCapture log;
    load();
    EXPECT_TRUE(log.contains(QStringLiteral("Secret TOKEN of environment profile \"dev\" was read from ")
                             + account(named, named.variables[0], 1)));
    EXPECT_TRUE(log.contains(QStringLiteral("no item ") + account(named, named.variables[0]) + QLatin1Char(',')));
    EXPECT_FALSE(log.contains(QStringLiteral("-value")));
    const QString gone =
        QStringLiteral("env.AAAAAAAA-2222-3333-4444-555555555555.BBBBBBBB-2222-3333-4444-555555555555");
    QStringList spared {QStringLiteral("protected-profiles.master-key.v1"), QStringLiteral("env.garbage"),
                        gone + QStringLiteral(".0"), account(vault, variable("T", "t"), 4),
                        account(vault, vault.variables[0]).toLower()};
    for (const QString &name :
         spared + QStringList {gone, gone + QStringLiteral(".9"), account(named, variable("GONE", "g", true))})
        secrets->setItem(name, QStringLiteral("x"));
    save(makeProfile("plain", {}));
    spared += {account(vault, vault.variables[0]), account(named, named.variables[0], 1)};
    spared.sort();
    EXPECT_EQ(secrets->items().keys(), spared);
}

TEST_F(EnvironmentProfilesRepositoryTest, UnreadableSecretsAreReportedAndNeverClearedByASave)
{
    EnvironmentProfile profile =
        makeProfile("dev", {variable("ONE", QStringLiteral("1"), true), variable("TWO", QStringLiteral("2"), true),
                            variable("THREE", QStringLiteral("3"), true)});
    save(profile);
    const KeychainError first(KeychainError::Case::interactionNotAllowed);
    const KeychainError second(KeychainError::Case::userDenied);
    secrets->failOn(Operation::read, first, account(profile, profile.variables[1]));
    secrets->failOn(Operation::read, second, account(profile, profile.variables[2]));

    const EnvironmentProfilesRepository::LoadResult loaded = load();
    ASSERT_EQ(loaded.profiles.size(), 1);
    const QList<EnvironmentVariable> &variables = loaded.profiles[0].variables;
    EXPECT_EQ(variables[0].value, QStringLiteral("1"));
    EXPECT_EQ(variables[1].value, QString());
    EXPECT_EQ(variables[2].value, QString());
    ASSERT_TRUE(loaded.keychainError.has_value());
    EXPECT_EQ(*loaded.keychainError, first);

    // Saving what was loaded must not take the gaps for cleared values.
    save(loaded.profiles[0]);
    EXPECT_EQ(secrets->items().value(account(profile, profile.variables[1])), QStringLiteral("2"));
    EXPECT_EQ(secrets->items().value(account(profile, profile.variables[2])), QStringLiteral("3"));

    // A value typed anew is stored; opening one profile reports its failure.
    EnvironmentProfile retyped = loaded.profiles[0];
    retyped.variables[1].value = QStringLiteral("two again");
    save(retyped);
    EXPECT_EQ(secrets->items().value(account(profile, profile.variables[1], 1)), QStringLiteral("two again"));
    try {
        await(repository.loadProtectedProfile(profile.id, key));
        ADD_FAILURE() << "opened despite a failed read";
    } catch (const KeychainError &error) {
        EXPECT_EQ(error, second);
    }

    // Once the keyring answers again, an emptied value is a real clearing.
    secrets->clearFailures();
    EnvironmentProfile reloaded = load().profiles[0];
    reloaded.variables[2].value.clear();
    save(reloaded);
    EXPECT_FALSE(secrets->items().contains(account(profile, profile.variables[2])));
}

// A record that lost its generation while the item that holds the value cannot be read: a save keeps that item, and
// a load once the keyring answers recovers the value from it.
TEST_F(EnvironmentProfilesRepositoryTest, ASaveKeepsTheItemsOfASecretItCouldNotRead)
{
    EnvironmentProfile profile = makeProfile("dev", {variable("TOKEN", "first", true)});
    save(profile);
    profile.variables[0].value = QStringLiteral("second");
    save(profile);
    const QString held = account(profile, profile.variables[0], 1);
    writeFile(fileBytes().replace("\"secretGeneration\"", "\"secretGenerat1on\""));
    const KeychainError denied(KeychainError::Case::userDenied);
    secrets->failOn(Operation::read, denied, held);

    const EnvironmentProfilesRepository::LoadResult loaded = load();
    EXPECT_EQ(loaded.keychainError, denied);
    save(loaded.profiles.value(0));
    EXPECT_EQ(secrets->items().keys(), QStringList {held});

    secrets->clearFailures();
    const EnvironmentProfilesRepository::LoadResult recovered = load();
    EXPECT_EQ(recovered.profiles.value(0).variables.value(0).value, QStringLiteral("second"));
    EXPECT_EQ(recovered.recoveredSecrets.size(), 1);
}

TEST_F(EnvironmentProfilesRepositoryTest, FailedSecretStoreStopsTheSaveBeforeTheFile)
{
    const EnvironmentProfile profile =
        makeProfile("dev", {variable("ONE", QStringLiteral("1"), true), variable("TWO", QStringLiteral("2"), true)});
    const KeychainError failure(KeychainError::Case::userDenied);
    secrets->failOn(Operation::save, failure, account(profile, profile.variables[1]));
    try {
        save(profile);
        ADD_FAILURE() << "saved";
    } catch (const KeychainError &error) {
        EXPECT_EQ(error, failure);
    }
    EXPECT_FALSE(QFile::exists(environmentsPath()));
    // The value stored before the failure is taken back: the file never named it.
    EXPECT_FALSE(secrets->items().contains(account(profile, profile.variables[0])));
}

TEST_F(EnvironmentProfilesRepositoryTest, InvalidKeyChangesNothing)
{
    EnvironmentProfile profile =
        makeProfile("dev", {variable("  GOOD ", QStringLiteral("1")), variable("", QStringLiteral("blank is kept")),
                            variable("1BAD", QStringLiteral("s"), true)});
    EXPECT_THROW(save(profile), EnvironmentProfileValidationError);
    EXPECT_FALSE(QFile::exists(environmentsPath()));
    EXPECT_TRUE(secrets->items().isEmpty());

    profile.variables.removeLast();
    save(profile);
    EXPECT_EQ(load().profiles, QList<EnvironmentProfile> {profile});
}

TEST_F(EnvironmentProfilesRepositoryTest, SharedIdsAndDeletes)
{
    const EnvironmentProfile profile = makeProfile("a", {variable("A", QStringLiteral("1"))});
    save(profile);
    save(makeProfile("other", {}));
    const QByteArray single = fileBytes();

    // Deleting an unknown id writes the same records and throws nothing.
    EXPECT_EQ(remove(QUuid::createUuid()).size(), 2);
    EXPECT_EQ(fileBytes(), single);

    // Two records with one id: both load, a save replaces the first, a delete removes both.
    QList<PersistedEnvironmentProfileRecord> records = await(repository.loadRecords());
    PersistedEnvironmentProfileRecord twin = records[0];
    twin.name = QStringLiteral("twin");
    records.append(twin);
    writeFile(encodePrettyJson(records));
    ASSERT_EQ(load().profiles.size(), 3);

    EnvironmentProfile renamed = profile;
    renamed.name = QStringLiteral("renamed");
    const QList<EnvironmentProfile> afterSave = save(renamed);
    ASSERT_EQ(afterSave.size(), 3);
    EXPECT_EQ(afterSave[0].name, QStringLiteral("renamed"));
    EXPECT_EQ(afterSave[2].name, QStringLiteral("twin"));

    const QList<EnvironmentProfile> afterDelete = remove(profile.id);
    ASSERT_EQ(afterDelete.size(), 1);
    EXPECT_EQ(afterDelete[0].name, QStringLiteral("other"));
}

TEST_F(EnvironmentProfilesRepositoryTest, RecordWithoutPayloadIsLeftOutAndRefused)
{
    const EnvironmentProfile profile = makeProfile("a", {});
    save(profile);
    save(makeProfile("b", {}));
    QList<PersistedEnvironmentProfileRecord> records = await(repository.loadRecords());
    records[0].clearPayload.reset();
    writeFile(encodePrettyJson(records));

    LogCapture log;
    const EnvironmentProfilesRepository::LoadResult loaded = load();
    ASSERT_EQ(loaded.profiles.size(), 1);
    EXPECT_EQ(loaded.profiles[0].name, QStringLiteral("b"));
    EXPECT_TRUE(log.contains(QStringLiteral("Failed to load environment profile ") + json::formatUuid(profile.id)));
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { save(profile); }), Case::decryptionFailed);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { remove(profile.id); }), Case::decryptionFailed);
    EXPECT_EQ(thrownErrorCase<ProtectedProfilesError>([&] { await(repository.loadProtectedProfile(profile.id, key)); }),
              Case::decryptionFailed);
}

// A generation outside 1...2^53 is damage; the last one is kept, but a change that would pass it fails.
TEST_F(EnvironmentProfilesRepositoryTest, GenerationsOutsideTheirRangeAreDamageAndTheLastIsNeverPassed)
{
    EnvironmentProfile profile = makeProfile("dev", {variable("TOKEN", "t", true)});
    save(profile);
    PersistedEnvironmentProfileRecord record = await(repository.loadRecords()).value(0);
    std::optional<qint64> &generation = record.clearPayload->variables[0].secretGeneration;
    for (const qint64 value :
         {EnvironmentVariable::maxSecretGeneration + 1, qint64(0), EnvironmentVariable::maxSecretGeneration}) {
        generation = value;
        writeFile(encodePrettyJson(QList {record}));
        EXPECT_EQ(load().profiles.isEmpty(), value != EnvironmentVariable::maxSecretGeneration);
    }
    secrets->setItem(account(profile, profile.variables[0], generation), QStringLiteral("t"));
    save(profile);
    const QByteArray before = fileBytes();
    profile.variables[0].value = QStringLiteral("edited");
    EXPECT_THROW(save(profile), FileStoreError);
    EXPECT_EQ(fileBytes(), before);
}
