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
// values of secret variables ("env.<profile id>.<variable id>"). No secret
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

    // The account of a secret variable's keyring item.
    static QString secretAccount(const QUuid &profileId, const QUuid &variableId);

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

    // What a save or delete does to the keyring: values it replaced (none when
    // there was no item), to put back when the file write fails, and items it
    // removes only once the file is written.
    struct KeyringChanges {
        QList<std::pair<QString, std::optional<QString>>> overwritten;
        QStringList clearedAccounts; // secret values the person emptied
        QStringList staleAccounts;   // removed or now plain variables, a deleted profile's
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
    void fillSecrets(EnvironmentProfile &profile, std::optional<KeychainError> &failure);
    void writeProfileRecords(const EnvironmentProfile &profile, const std::optional<ProtectedPayloadCrypto> &key,
                             QList<PersistedEnvironmentProfileRecord> &records, qsizetype existing,
                             KeyringChanges &changes);
    void storeSecrets(const EnvironmentProfile &profile, KeyringChanges &changes);
    void saveSecretRemembering(const QString &account, const QString &value, KeyringChanges &changes);
    void restoreOverwritten(const KeyringChanges &changes);
    // Stale items go silently (a later sweep takes what stays); a cleared value
    // that cannot be removed is thrown, after every removal was tried.
    void deleteAfterWrite(const KeyringChanges &changes);
    void finishAfterUnsyncedWrite(const KeyringChanges &changes);
    // Runs the file write of a keyring change: a refused write puts back what
    // it overwrote, a written one lets the stale items go.
    void writeSettlingKeyring(KeyringChanges &changes, const std::function<void()> &write);
    void deleteSecretIfPossible(const QString &account);
    void collectStaleSecrets(const EnvironmentProfile &previous, const EnvironmentProfile &profile,
                             KeyringChanges &changes);
    void moveClearSecretValuesToKeyring(QList<PersistedEnvironmentProfileRecord> &records, KeyringChanges &changes);
    void deleteOrphanSecrets(const QList<PersistedEnvironmentProfileRecord> &records);
    bool hasSetAsideCopies() const;
    void writeRecords(const QList<PersistedEnvironmentProfileRecord> &records);

    JSONFileStore<QList<PersistedEnvironmentProfileRecord>> m_recordsStore;
    std::shared_ptr<SecretStoring> m_secretStore;
    // Accounts whose last read failed. Their values are empty in memory only
    // because the keyring could not be read, so a save that finds them empty
    // must not take that for the person clearing them.
    QSet<QString> m_unavailableSecretAccounts;
    SerialExecutor m_executor;
};
