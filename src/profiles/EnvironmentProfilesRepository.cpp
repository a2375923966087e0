#include "profiles/EnvironmentProfilesRepository.h"

#include "platform/Logging.h"
#include "profiles/KeychainSecretStore.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "records/VersionedRecordsFile.h"
#include "records/FileStoreError.h"
#include "records/ProtectedProfilesError.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <mutex>

namespace {

using Record = PersistedEnvironmentProfileRecord;

const QString secretAccountPrefix = QStringLiteral("env.");

QList<EnvironmentVariable> withSecretValuesEmptied(QList<EnvironmentVariable> variables)
{
    for (EnvironmentVariable &variable : variables) {
        if (variable.isSecret)
            variable.value.clear();
    }
    return variables;
}

qsizetype indexOfRecord(const QList<Record> &records, const QUuid &id)
{
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records.at(i).id == id)
            return i;
    }
    return -1;
}

} // namespace

EnvironmentProfilesRepository::EnvironmentProfilesRepository(const QString &path,
                                                             std::shared_ptr<SecretStoring> secretStore)
    : m_recordsStore(path),
      m_secretStore(secretStore ? std::move(secretStore) : std::make_shared<KeychainSecretStore>())
{}

QString EnvironmentProfilesRepository::secretAccount(const QUuid &profileId, const QUuid &variableId)
{
    return secretAccountPrefix + json::formatUuid(profileId) + QLatin1Char('.') + json::formatUuid(variableId);
}

QFuture<QList<PersistedEnvironmentProfileRecord>> EnvironmentProfilesRepository::loadRecords()
{
    return m_executor.run([this] { return readRecords().records; });
}

QFuture<EnvironmentProfilesRepository::LoadResult> EnvironmentProfilesRepository::loadProfiles()
{
    return m_executor.run([this] { return readProfiles(); });
}

QFuture<EnvironmentProfile> EnvironmentProfilesRepository::loadProtectedProfile(const QUuid &id,
                                                                                const ProtectedPayloadCrypto &key)
{
    return m_executor.run([this, id, key] { return openProfile(id, key); });
}

QFuture<QList<EnvironmentProfile>>
EnvironmentProfilesRepository::saveProfile(const EnvironmentProfile &profile,
                                           const std::optional<ProtectedPayloadCrypto> &key)
{
    return m_executor.run([this, profile, key] { return writeProfile(profile, key); });
}

QFuture<QList<EnvironmentProfile>>
EnvironmentProfilesRepository::deleteProfile(const QUuid &id, const std::optional<ProtectedPayloadCrypto> &key)
{
    return m_executor.run([this, id, key] { return removeProfile(id, key); });
}

EnvironmentProfilesRepository::RecordsLoad EnvironmentProfilesRepository::readRecords()
{
    const auto convertLegacy = [](const json::Value &element) {
        const EnvironmentProfile profile = EnvironmentProfile::fromJson(element);
        Record record;
        record.id = profile.id;
        record.name = profile.name;
        record.createdAt = profile.createdAt;
        record.updatedAt = profile.updatedAt;
        // The older layout had no protection; whatever it said, the profile is clear.
        record.isProtected = false;
        record.clearPayload = EnvironmentProfileClearPayload {profile.variables};
        return record;
    };
    JsonFile &file = m_recordsStore.file();
    VersionedRecordsRead<Record> read = readVersionedRecords<Record>(file, {}, convertLegacy);
    QStringList failures = read.failures;
    if (read.readError)
        failures.append(read.readError->message());
    for (const QString &failure : std::as_const(failures)) {
        if (read.currentLayout)
            qCCritical(lcPersistence, "Failed to load protected environment records: %s", qUtf8Printable(failure));
        else
            qCCritical(lcPersistence, "Failed to migrate environments.json: %s", qUtf8Printable(failure));
    }
    const bool complete = read.complete();
    // A file that could not be read at all is not known to be damaged.
    if (!read.readError) {
        const std::lock_guard lock(file.mutex());
        if (complete)
            file.markReadable();
        else
            file.markUnreadable();
    }
    return {std::move(read.records), complete, std::move(read.readError)};
}

EnvironmentProfilesRepository::RecordsLoad EnvironmentProfilesRepository::readRecordsForUpdate()
{
    RecordsLoad load = readRecords();
    if (load.readError)
        throw *load.readError;
    return load;
}

EnvironmentProfilesRepository::LoadResult EnvironmentProfilesRepository::readProfiles()
{
    return profilesOf(readRecords().records);
}

EnvironmentProfilesRepository::LoadResult EnvironmentProfilesRepository::profilesOf(const QList<Record> &records)
{
    LoadResult result;
    for (const Record &record : records) {
        if (record.isProtected) {
            result.profiles.append({record.id, record.name, {}, true, record.createdAt, record.updatedAt});
            result.lockedProfileIDs.insert(record.id);
            continue;
        }
        if (!record.clearPayload) {
            qCCritical(lcPersistence,
                       "Failed to load environment profile %s: it is not protected and has no clear payload",
                       qUtf8Printable(json::formatUuid(record.id)));
            continue;
        }
        EnvironmentProfile profile {record.id, record.name,      record.clearPayload->variables,
                                    false,     record.createdAt, record.updatedAt};
        fillSecrets(profile, result.keychainError);
        result.profiles.append(profile);
    }
    return result;
}

EnvironmentProfile EnvironmentProfilesRepository::openProfile(const QUuid &id, const ProtectedPayloadCrypto &key)
{
    const QList<Record> records = readRecords().records;
    const qsizetype index = indexOfRecord(records, id);
    if (index < 0)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
    const Record &record = records.at(index);

    EnvironmentProfile profile {record.id,          record.name,      storedVariables(record, key),
                                record.isProtected, record.createdAt, record.updatedAt};
    std::optional<KeychainError> failure;
    fillSecrets(profile, failure);
    if (failure)
        throw *failure;
    return profile;
}

QList<EnvironmentVariable>
EnvironmentProfilesRepository::storedVariables(const Record &record, const std::optional<ProtectedPayloadCrypto> &key)
{
    if (record.isProtected) {
        if (!key || !record.encryptedPayload)
            throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);
        return openProtectedProfilePayload<EnvironmentProfileClearPayload>(*record.encryptedPayload, record.id, *key)
            .variables;
    }
    if (!record.clearPayload)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
    return record.clearPayload->variables;
}

void EnvironmentProfilesRepository::fillSecrets(EnvironmentProfile &profile, std::optional<KeychainError> &failure)
{
    for (EnvironmentVariable &variable : profile.variables) {
        if (!variable.isSecret)
            continue;
        const QString account = secretAccount(profile.id, variable.id);
        std::optional<KeychainError> readFailure;
        try {
            variable.value = m_secretStore->readSecret(account).value_or(QString());
            m_unavailableSecretAccounts.remove(account);
            continue;
        } catch (const KeychainError &error) {
            readFailure = error;
        } catch (...) {
            readFailure = KeychainError(KeychainError::Case::authFailed);
        }
        variable.value.clear();
        m_unavailableSecretAccounts.insert(account);
        if (!failure)
            failure = readFailure;
    }
}

void EnvironmentProfilesRepository::storeSecrets(const EnvironmentProfile &profile, KeyringChanges &changes)
{
    for (const EnvironmentVariable &variable : profile.variables) {
        if (!variable.isSecret)
            continue;
        const QString account = secretAccount(profile.id, variable.id);
        if (!variable.value.isEmpty()) {
            saveSecretRemembering(account, variable.value, changes);
            m_unavailableSecretAccounts.remove(account);
        } else if (!m_unavailableSecretAccounts.contains(account)) {
            changes.clearedAccounts.append(account);
        }
        // An empty value that was never read is not the person clearing it:
        // the item keeps what the keyring holds.
    }
}

void EnvironmentProfilesRepository::saveSecretRemembering(const QString &account, const QString &value,
                                                          KeyringChanges &changes)
{
    const bool known = std::any_of(changes.overwritten.cbegin(), changes.overwritten.cend(),
                                   [&account](const auto &item) { return item.first == account; });
    if (!known) {
        // A value the keyring will not give back cannot be put back either; it
        // was never shown, so the one typed anew replaces it all the same.
        try {
            changes.overwritten.append({account, m_secretStore->readSecret(account)});
        } catch (const KeychainError &) {
            // Nothing known to put back.
        }
    }
    m_secretStore->saveSecret(account, value);
}

void EnvironmentProfilesRepository::restoreOverwritten(const KeyringChanges &changes)
{
    for (const auto &[account, value] : changes.overwritten) {
        try {
            if (value)
                m_secretStore->saveSecret(account, *value);
            else
                m_secretStore->deleteSecret(account);
        } catch (const std::exception &error) {
            qCCritical(lcPersistence, "Failed to restore the keyring item %s: %s", qUtf8Printable(account),
                       error.what());
        }
    }
}

// The new file is in place: the keyring follows it, and the caller still
// hears of the save's failure.
void EnvironmentProfilesRepository::writeSettlingKeyring(KeyringChanges &changes, const std::function<void()> &write)
{
    try {
        write();
    } catch (const FileNotDurableError &) {
        // The new file is in place: the keyring follows it.
        finishAfterUnsyncedWrite(changes);
        throw;
    } catch (...) {
        restoreOverwritten(changes);
        throw;
    }
    deleteAfterWrite(changes);
}

void EnvironmentProfilesRepository::finishAfterUnsyncedWrite(const KeyringChanges &changes)
{
    try {
        deleteAfterWrite(changes);
    } catch (...) {
        // The file's failure is the one reported.
    }
}

void EnvironmentProfilesRepository::deleteAfterWrite(const KeyringChanges &changes)
{
    for (const QString &account : changes.staleAccounts)
        deleteSecretIfPossible(account);
    // A cleared value that stays in the keyring would come back at the next
    // load: the person must hear that clearing it failed.
    std::exception_ptr firstFailure;
    for (const QString &account : changes.clearedAccounts) {
        try {
            m_secretStore->deleteSecret(account);
        } catch (...) {
            if (!firstFailure)
                firstFailure = std::current_exception();
        }
    }
    if (firstFailure)
        std::rethrow_exception(firstFailure);
}

void EnvironmentProfilesRepository::collectStaleSecrets(const EnvironmentProfile &previous,
                                                        const EnvironmentProfile &profile, KeyringChanges &changes)
{
    QSet<QUuid> secretIDs;
    for (const EnvironmentVariable &variable : profile.variables) {
        if (variable.isSecret)
            secretIDs.insert(variable.id);
    }
    for (const EnvironmentVariable &variable : previous.variables) {
        if (!variable.isSecret || secretIDs.contains(variable.id))
            continue;
        changes.staleAccounts.append(secretAccount(previous.id, variable.id));
    }
}

// Clean-up is best effort: an item left behind is an orphan that a later sweep takes.
void EnvironmentProfilesRepository::deleteSecretIfPossible(const QString &account)
{
    try {
        m_secretStore->deleteSecret(account);
        m_unavailableSecretAccounts.remove(account);
    } catch (...) {}
}

// Only a record converted from the older layout can hold a secret value in the
// clear. The value moves into the keyring unless an item is there already (that
// one is what every load has shown), so the conversion loses nothing and the
// file keeps no secret.
void EnvironmentProfilesRepository::moveClearSecretValuesToKeyring(QList<Record> &records, KeyringChanges &changes)
{
    for (Record &record : records) {
        if (!record.clearPayload)
            continue;
        for (EnvironmentVariable &variable : record.clearPayload->variables) {
            if (!variable.isSecret || variable.value.isEmpty())
                continue;
            const QString account = secretAccount(record.id, variable.id);
            if (!m_secretStore->readSecret(account))
                saveSecretRemembering(account, variable.value, changes);
            variable.value.clear();
        }
    }
}

void EnvironmentProfilesRepository::deleteOrphanSecrets(const QList<Record> &records)
{
    QSet<QString> owned;
    for (const Record &record : records) {
        if (!record.clearPayload)
            continue;
        for (const EnvironmentVariable &variable : record.clearPayload->variables) {
            if (variable.isSecret)
                owned.insert(secretAccount(record.id, variable.id));
        }
    }
    const QStringList accounts = m_secretStore->allAccounts();
    for (const QString &account : accounts) {
        if (account.startsWith(secretAccountPrefix) && !owned.contains(account))
            deleteSecretIfPossible(account);
    }
}

// A copy of environments.json set aside as unreadable may still be repaired by
// hand; while one is there, its profiles' keyring items are not orphans.
bool EnvironmentProfilesRepository::hasSetAsideCopies() const
{
    const QFileInfo info(m_recordsStore.path());
    const QStringList filters {info.fileName() + QStringLiteral(".unreadable-*")};
    return !info.dir().entryList(filters, QDir::Files | QDir::Hidden | QDir::System).isEmpty();
}

void EnvironmentProfilesRepository::writeRecords(const QList<Record> &records)
{
    m_recordsStore.save(records);
}

QList<EnvironmentProfile> EnvironmentProfilesRepository::writeProfile(const EnvironmentProfile &profile,
                                                                      const std::optional<ProtectedPayloadCrypto> &key)
{
    EnvironmentProfile::validateKeys({profile});

    RecordsLoad load = readRecordsForUpdate();
    QList<Record> &records = load.records;
    const qsizetype existing = indexOfRecord(records, profile.id);

    std::optional<EnvironmentProfile> previous;
    if (existing >= 0) {
        const Record &record = records.at(existing);
        previous = EnvironmentProfile {record.id,          record.name,      storedVariables(record, key),
                                       record.isProtected, record.createdAt, record.updatedAt};
    }

    // New values go into the keyring before the file, remembering what they
    // replace; items are removed only once the file no longer needs them, so
    // a refused write can put the keyring back as it was.
    KeyringChanges changes;
    if (previous)
        collectStaleSecrets(*previous, profile, changes);
    writeSettlingKeyring(changes, [&] { writeProfileRecords(profile, key, records, existing, changes); });

    const bool anyProtected =
        std::any_of(records.cbegin(), records.cend(), [](const Record &r) { return r.isProtected; });
    // After a load that could not read the file, the records written know
    // nothing of the profiles in the unreadable copy: sweeping now would delete
    // their secrets for good.
    if (!anyProtected && load.complete && !hasSetAsideCopies())
        deleteOrphanSecrets(records);

    return profilesOf(records).profiles;
}

void EnvironmentProfilesRepository::writeProfileRecords(const EnvironmentProfile &profile,
                                                        const std::optional<ProtectedPayloadCrypto> &key,
                                                        QList<Record> &records, qsizetype existing,
                                                        KeyringChanges &changes)
{
    storeSecrets(profile, changes);

    Record record;
    record.id = profile.id;
    record.name = profile.name;
    record.createdAt = profile.createdAt;
    record.updatedAt = profile.updatedAt;
    record.isProtected = profile.isProtected;
    const EnvironmentProfileClearPayload payload {withSecretValuesEmptied(profile.variables)};
    if (profile.isProtected) {
        if (!key)
            throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);
        record.encryptedPayload = sealProtectedProfilePayload(payload, profile.id, *key);
        record.protectionVersion = Record::currentProtectionVersion;
    } else {
        record.clearPayload = payload;
    }

    if (existing >= 0)
        records[existing] = record;
    else
        records.append(record);

    moveClearSecretValuesToKeyring(records, changes);
    writeRecords(records);
}

QList<EnvironmentProfile> EnvironmentProfilesRepository::removeProfile(const QUuid &id,
                                                                       const std::optional<ProtectedPayloadCrypto> &key)
{
    QList<Record> records = readRecordsForUpdate().records;
    const qsizetype existing = indexOfRecord(records, id);
    KeyringChanges changes;
    if (existing >= 0) {
        const Record &record = records.at(existing);
        const QList<EnvironmentVariable> variables = storedVariables(record, key);
        for (const EnvironmentVariable &variable : variables) {
            if (variable.isSecret)
                changes.staleAccounts.append(secretAccount(record.id, variable.id));
        }
    }
    records.removeIf([&id](const Record &record) { return record.id == id; });

    // Its secrets go only once the file no longer names the profile.
    writeSettlingKeyring(changes, [&] {
        moveClearSecretValuesToKeyring(records, changes);
        writeRecords(records);
    });
    return profilesOf(records).profiles;
}
