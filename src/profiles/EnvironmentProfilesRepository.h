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
    struct LoadResult {
        QList<EnvironmentProfile> profiles; // file order; protected ones as locked placeholders
        QSet<QUuid> lockedProfileIDs;
        std::optional<KeychainError> keychainError; // the first failure to read a secret
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
    QFuture<EnvironmentProfile> loadProtectedProfile(const QUuid &id, const ProtectedPayloadCrypto &key);
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
    };

    // A secret whose item the keyring did not have.
    struct MissingSecret {
        QString account;
        QString profileName;
        QString key;
    };

    // Each runs on the executor's thread only.
    RecordsLoad readRecords();
    // Throws FileStoreError when the file could not be read at all.
    RecordsLoad readRecordsForUpdate();
    LoadResult readProfiles();
    LoadResult profilesOf(const QList<PersistedEnvironmentProfileRecord> &records);
    EnvironmentProfile openProfile(const QUuid &id, const ProtectedPayloadCrypto &key);
    QList<EnvironmentProfile> writeProfile(const EnvironmentProfile &profile,
                                           const std::optional<ProtectedPayloadCrypto> &key);
    QList<EnvironmentProfile> removeProfile(const QUuid &id, const std::optional<ProtectedPayloadCrypto> &key);

    QList<EnvironmentVariable> storedVariables(const PersistedEnvironmentProfileRecord &record,
                                               const std::optional<ProtectedPayloadCrypto> &key);
    // Adds to `missing` each secret whose item the keyring lacks and that was
    // not missing already at the last read of it.
    void fillSecrets(EnvironmentProfile &profile, std::optional<KeychainError> &failure, QList<MissingSecret> &missing);
    // Logs each missing secret of which the keyring holds another item: the
    // file points elsewhere than the value, which is not an emptied secret.
    void logMissingSecrets(const QList<MissingSecret> &missing);
    // Whether the item holds `value`; the copy read is wiped. False when it cannot be read.
    bool storedSecretEquals(const QString &account, const QString &value);
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
    // settles it.
    void deleteOrphanSecrets(const QList<PersistedEnvironmentProfileRecord> &records, const QUuid &profileId,
                             const std::optional<ProtectedPayloadCrypto> &key);
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
    // Accounts a read found without an item, since that read. An emptied
    // secret stays so for good: a profile that has one would otherwise list
    // the whole keyring at every load and save to tell it from a lost item.
    QSet<QString> m_missingSecretAccounts;
    SerialExecutor m_executor;
};
