#pragma once

#include "platform/KeychainError.h"
#include "profiles/EnvironmentProfile.h"
#include "profiles/PersistedEnvironmentProfileRecord.h"
#include "profiles/ProtectedPayloadCrypto.h"
#include "profiles/SecretStoring.h"
#include "records/FileStoreError.h"
#include "records/JSONFileStore.h"
#include "records/SerialExecutor.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <memory>
#include <utility>
#include <functional>
#include <optional>

// The one owner of environments.json and of the keyring items that hold the
// values of secret variables (see secretAccount). No secret
// value is ever written into the file: a clear profile stores its secrets
// empty, a protected one stores its variables only inside an envelope, with
// the secrets empty there too.
//
// One request runs at a time on the repository's own thread, keyring calls
// included (they block); every request reads the file again.
class EnvironmentProfilesRepository {
public:
    // A secret whose value was read from the newest other item of its
    // variable, as the item its record names is missing: the record lost track
    // of it (a damaged generation). The next save names that item again.
    struct RecoveredSecret {
        QString profileName;
        QString key; // as typed
        friend bool operator==(const RecoveredSecret &, const RecoveredSecret &) = default;
    };

    struct LoadResult {
        QList<EnvironmentProfile> profiles; // file order; protected ones as locked placeholders
        QSet<QUuid> lockedProfileIDs;
        std::optional<KeychainError> keychainError; // the first failure to read a secret
        // Each reported by the first read that recovers it only.
        QList<RecoveredSecret> recoveredSecrets;
    };

    struct OpenedProfile {
        EnvironmentProfile profile;
        QList<RecoveredSecret> recoveredSecrets; // as in LoadResult
    };

    // Without a secret store the repository uses the desktop keyring.
    explicit EnvironmentProfilesRepository(const QString &path, std::shared_ptr<SecretStoring> secretStore = nullptr);

    const QString &fileURL() const { return m_recordsStore.path(); }

    // The account of a secret variable's keyring item: "env.<profile id>.<variable
    // id>", followed by ".<generation>" once a stored value has been replaced.
    static QString secretAccount(const QUuid &profileId, const QUuid &variableId,
                                 std::optional<qint64> generation = std::nullopt);

    // Never fails: an absent file gives nothing silently, an unreadable one
    // gives nothing and is logged, and so is each record that cannot be read. A file in the older layout is converted
    // in memory; it takes the current layout at the next save or delete.
    QFuture<QList<PersistedEnvironmentProfileRecord>> loadRecords();
    // Never fails; secret values come from the keyring.
    QFuture<LoadResult> loadProfiles();
    // One profile with its secrets, opening its envelope when it is protected.
    // Throws ProtectedProfilesError or KeychainError (after every read was tried).
    QFuture<OpenedProfile> loadProtectedProfile(const QUuid &id, const ProtectedPayloadCrypto &key);
    // Stores the profile (matched by id) and its secrets; returns the profiles
    // as written. Throws EnvironmentProfileValidationError,
    // ProtectedProfilesError, KeychainError or FileStoreError (also when the
    // file cannot be read: it is then left untouched).
    QFuture<QList<EnvironmentProfile>> saveProfile(const EnvironmentProfile &profile,
                                                   const std::optional<ProtectedPayloadCrypto> &key);
    // Removes every record with the id and the keyring items of the first one's
    // secrets; returns the profiles as written. Throws
    // ProtectedProfilesError or FileStoreError.
    QFuture<QList<EnvironmentProfile>> deleteProfile(const QUuid &id, const std::optional<ProtectedPayloadCrypto> &key);

    // Blocks until every request submitted so far has run. For shutdown and tests.
    void waitForIdle() { m_executor.waitForIdle(); }

private:
    struct RecordsLoad {
        QList<PersistedEnvironmentProfileRecord> records;
        // False when a file was there but could not be read or decoded, whole
        // or in part: the records then do not tell which keyring items are owned.
        bool complete = true;
        // Set when the file could not be read at all; the records are then unknown.
        std::optional<FileStoreError> readError;
    };

    // What a save or delete does to the keyring. New values go to accounts
    // that no file names yet, so a crash at any point leaves the old file with
    // its old items or the new file with its new ones; the items the new file
    // no longer names go only once it is durable.
    struct KeyringChanges {
        QStringList written;  // taken back when the file is not written
        QStringList replaced; // removed once the file is durable
        // Variables (accounts without a generation) stored empty without their
        // stored value having been read: the sweep leaves every item of them.
        QSet<QString> unread;
    };

    // Where a stored secret's value was found, and the value.
    struct StoredSecret {
        QString account;
        std::optional<qint64> generation;
        std::optional<QString> value; // none: no item of the variable holds one
        bool newlyRecovered = false;  // a value read from another item than the named one, the first time
    };

    // What the reads of one request found besides the values.
    struct SecretReads {
        std::optional<KeychainError> failure; // the first failure
        // The keyring's accounts, listed once a named item is found missing.
        std::optional<QStringList> keyringAccounts;
    };

    // Each runs on the executor's thread only.
    RecordsLoad readRecords();
    // Throws FileStoreError when the file could not be read at all.
    RecordsLoad readRecordsForUpdate();
    LoadResult readProfiles();
    LoadResult profilesOf(const QList<PersistedEnvironmentProfileRecord> &records);
    OpenedProfile openProfile(const QUuid &id, const ProtectedPayloadCrypto &key);
    QList<EnvironmentProfile> writeProfile(const EnvironmentProfile &profile,
                                           const std::optional<ProtectedPayloadCrypto> &key);
    QList<EnvironmentProfile> removeProfile(const QUuid &id, const std::optional<ProtectedPayloadCrypto> &key);

    QList<EnvironmentVariable> storedVariables(const PersistedEnvironmentProfileRecord &record,
                                               const std::optional<ProtectedPayloadCrypto> &key);
    void fillSecrets(EnvironmentProfile &profile, SecretReads &reads);
    // Reads the item a record names or, when the keyring lacks it, the newest
    // other item of the variable that reads: every stored secret has an item,
    // even an empty one, so a missing one means the record lost track of it
    // (a file from an older build may also name an emptied secret so).
    // Throws KeychainError.
    StoredSecret readStoredSecret(const QUuid &profileId, const QUuid &variableId, std::optional<qint64> generation,
                                  std::optional<QStringList> &keyringAccounts);
    // The variables to store, secrets emptied and each naming its item; new
    // and changed values are written to new items on the way.
    QList<EnvironmentVariable> storeSecrets(const EnvironmentProfile &profile,
                                            const std::optional<EnvironmentProfile> &previous, KeyringChanges &changes);
    void writeProfileRecords(const EnvironmentProfile &profile, const std::optional<EnvironmentProfile> &previous,
                             const std::optional<ProtectedPayloadCrypto> &key,
                             QList<PersistedEnvironmentProfileRecord> &records, qsizetype existing,
                             KeyringChanges &changes);
    // Runs the file write of a keyring change: a refused write takes back the
    // new items, a durable one lets the replaced ones go. A write that is in
    // place but not durable keeps both for the profile's next save to settle.
    void writeSettlingKeyring(KeyringChanges &changes, const std::function<void()> &write);
    void deleteSecretIfPossible(const QString &account);
    void moveClearSecretValuesToKeyring(QList<PersistedEnvironmentProfileRecord> &records, KeyringChanges &changes);
    // Items of one profile that no record names: left by an interrupted save.
    void deleteLeftoverSecrets(const QList<PersistedEnvironmentProfileRecord> &records, const QUuid &profileId,
                               const std::optional<ProtectedPayloadCrypto> &key);
    // Items of profiles the file no longer has, of variables no clear profile
    // names, and of `profileId`'s that its records do not name, in one listing
    // of the keyring; another protected profile's are left to its own saves.
    // Every generation of another profile's variable stays: the record may
    // only have lost track of its item, and the next save of that profile
    // settles it. So do those of `spared`, variables of `profileId` (accounts
    // without a generation) whose value the save could not read.
    void deleteOrphanSecrets(const QList<PersistedEnvironmentProfileRecord> &records, const QUuid &profileId,
                             const std::optional<ProtectedPayloadCrypto> &key, const QSet<QString> &spared);
    // Adds the items `profileId`'s records name; false when one cannot be opened.
    bool collectOwnedSecrets(const QList<PersistedEnvironmentProfileRecord> &records, const QUuid &profileId,
                             const std::optional<ProtectedPayloadCrypto> &key, QSet<QString> &owned);
    // Spares the accounts in `owned` and every item of the variables in
    // `namedVariables` (accounts without a generation).
    void deleteUnownedSecrets(const QSet<QString> &owned, const QSet<QString> &namedVariables,
                              const std::function<bool(const QUuid &)> &sweepsProfile);
    bool hasSetAsideCopies() const;
    void writeRecords(const QList<PersistedEnvironmentProfileRecord> &records);

    JSONFileStore<QList<PersistedEnvironmentProfileRecord>> m_recordsStore;
    std::shared_ptr<SecretStoring> m_secretStore;
    // Accounts whose last read failed. Their values are empty in memory only
    // because the keyring could not be read, so a save that finds them empty
    // must not take that for the person clearing them.
    QSet<QString> m_unavailableSecretAccounts;
    // Accounts a read found without an item, nor another item of their
    // variable, since that read. A secret emptied by an older build stays so
    // for good: a profile that has one would otherwise list the whole keyring
    // at every load and save.
    QSet<QString> m_missingSecretAccounts;
    // Missing accounts whose value was recovered, with the item it was read
    // from: later reads go there directly, and report nothing again.
    QHash<QString, QString> m_recoveredSecretAccounts;
    // Recoveries no load or opening has reported yet (a save's own reads
    // report nothing).
    QList<RecoveredSecret> m_untoldRecoveries;
    SerialExecutor m_executor;
};
