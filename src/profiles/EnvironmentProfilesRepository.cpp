#include "profiles/EnvironmentProfilesRepository.h"

#include "platform/Logging.h"
#include "platform/SensitiveBytes.h"
#include "profiles/KeychainSecretStore.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "records/VersionedRecordsFile.h"
#include "records/FileStoreError.h"
#include "records/ProtectedProfilesError.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <mutex>
#include <utility>

namespace {

using Record = PersistedEnvironmentProfileRecord;

const QString secretAccountPrefix = QStringLiteral("env.");

qsizetype indexOfRecord(const QList<Record> &records, const QUuid &id)
{
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records.at(i).id == id)
            return i;
    }
    return -1;
}

struct SecretItem {
    QUuid profileId;
    QUuid variableId;
    std::optional<qint64> generation;
};

// "env.<profile id>.<variable id>[.<generation>]", ids in any letter case;
// none for every other account.
std::optional<SecretItem> parseSecretAccount(const QString &account)
{
    if (!account.startsWith(secretAccountPrefix))
        return std::nullopt;
    const QStringList parts = account.mid(secretAccountPrefix.size()).split(QLatin1Char('.'));
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    const std::optional<QUuid> profileId = json::parseUuid(parts.at(0));
    const std::optional<QUuid> variableId = json::parseUuid(parts.at(1));
    if (!profileId || !variableId)
        return std::nullopt;
    SecretItem item {*profileId, *variableId, std::nullopt};
    if (parts.size() == 3) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,16}$"));
        const qint64 generation = parts.at(2).toLongLong();
        if (!digits.match(parts.at(2)).hasMatch() || generation < 1
            || generation > EnvironmentVariable::maxSecretGeneration)
            return std::nullopt;
        item.generation = generation;
    }
    return item;
}

// The listed items of a variable other than `named`, the newest generation
// first (the plain account counts as none).
QList<std::pair<QString, std::optional<qint64>>> otherItemsNewestFirst(const QStringList &accounts,
                                                                       const QUuid &profileId, const QUuid &variableId,
                                                                       const QString &named)
{
    QList<std::pair<QString, std::optional<qint64>>> items;
    for (const QString &account : accounts) {
        const std::optional<SecretItem> item = parseSecretAccount(account);
        if (item && item->profileId == profileId && item->variableId == variableId && account != named)
            items.append({account, item->generation});
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const auto &a, const auto &b) { return a.second.value_or(0) > b.second.value_or(0); });
    return items;
}

void forgetSecretValues(EnvironmentProfile &profile)
{
    for (EnvironmentVariable &variable : profile.variables) {
        variable.secretGeneration.reset();
        if (variable.isSecret)
            variable.value.clear();
    }
}

} // namespace

EnvironmentProfilesRepository::EnvironmentProfilesRepository(const QString &path,
                                                             std::shared_ptr<SecretStoring> secretStore)
    : m_recordsStore(path),
      m_secretStore(secretStore ? std::move(secretStore) : std::make_shared<KeychainSecretStore>())
{}

QString EnvironmentProfilesRepository::secretAccount(const QUuid &profileId, const QUuid &variableId,
                                                     std::optional<qint64> generation)
{
    QString account =
        secretAccountPrefix + json::formatUuid(profileId) + QLatin1Char('.') + json::formatUuid(variableId);
    if (generation)
        account += QLatin1Char('.') + QString::number(*generation);
    return account;
}

QFuture<QList<PersistedEnvironmentProfileRecord>> EnvironmentProfilesRepository::loadRecords()
{
    return m_executor.run([this] { return readRecords().records; });
}

QFuture<EnvironmentProfilesRepository::LoadResult> EnvironmentProfilesRepository::loadProfiles()
{
    return m_executor.run([this] { return readProfiles(); });
}

QFuture<EnvironmentProfilesRepository::OpenedProfile>
EnvironmentProfilesRepository::loadProtectedProfile(const QUuid &id, const ProtectedPayloadCrypto &key)
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
    LoadResult result = profilesOf(readRecords().records);
    result.recoveredSecrets = std::exchange(m_untoldRecoveries, {});
    return result;
}

EnvironmentProfilesRepository::LoadResult EnvironmentProfilesRepository::profilesOf(const QList<Record> &records)
{
    LoadResult result;
    SecretReads reads;
    QSet<QUuid> seen;
    for (const Record &record : records) {
        // Only the first record with an id is the profile that opens, saves and
        // deletes; a later one must not reach another profile's secrets.
        const bool first = !seen.contains(record.id);
        seen.insert(record.id);
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
        if (first)
            fillSecrets(profile, reads);
        else
            forgetSecretValues(profile);
        result.profiles.append(std::move(profile));
    }
    result.keychainError = std::move(reads.failure);
    return result;
}

EnvironmentProfilesRepository::OpenedProfile
EnvironmentProfilesRepository::openProfile(const QUuid &id, const ProtectedPayloadCrypto &key)
{
    const QList<Record> records = readRecords().records;
    const qsizetype index = indexOfRecord(records, id);
    if (index < 0)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
    const Record &record = records.at(index);

    EnvironmentProfile profile {record.id,          record.name,      storedVariables(record, key),
                                record.isProtected, record.createdAt, record.updatedAt};
    SecretReads reads;
    fillSecrets(profile, reads);
    if (reads.failure) {
        EnvironmentVariable::wipeValues(profile.variables);
        throw *reads.failure;
    }
    return {std::move(profile), std::exchange(m_untoldRecoveries, {})};
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

void EnvironmentProfilesRepository::fillSecrets(EnvironmentProfile &profile, SecretReads &reads)
{
    for (EnvironmentVariable &variable : profile.variables) {
        const std::optional<qint64> generation = std::exchange(variable.secretGeneration, std::nullopt);
        if (!variable.isSecret)
            continue;
        const QString account = secretAccount(profile.id, variable.id, generation);
        std::optional<KeychainError> readFailure;
        try {
            StoredSecret stored = readStoredSecret(profile.id, variable.id, generation, reads.keyringAccounts);
            if (stored.value)
                variable.value = std::move(*stored.value);
            if (stored.newlyRecovered) {
                qCCritical(lcPersistence,
                           "Secret %s of environment profile \"%s\" was read from %s: the keyring has no item %s, "
                           "the one environments.json names",
                           qUtf8Printable(variable.key), qUtf8Printable(profile.name), qUtf8Printable(stored.account),
                           qUtf8Printable(account));
                m_untoldRecoveries.append({profile.name, variable.key});
            }
            m_unavailableSecretAccounts.remove(account);
            continue;
        } catch (const KeychainError &error) {
            readFailure = error;
        } catch (...) {
            readFailure = KeychainError(KeychainError::Case::authFailed);
        }
        variable.value.clear();
        m_unavailableSecretAccounts.insert(account);
        if (!reads.failure)
            reads.failure = readFailure;
    }
}

EnvironmentProfilesRepository::StoredSecret
EnvironmentProfilesRepository::readStoredSecret(const QUuid &profileId, const QUuid &variableId,
                                                std::optional<qint64> generation,
                                                std::optional<QStringList> &keyringAccounts)
{
    const QString account = secretAccount(profileId, variableId, generation);
    if (std::optional<QString> value = m_secretStore->readSecret(account)) {
        m_missingSecretAccounts.remove(account);
        m_recoveredSecretAccounts.remove(account);
        return {account, generation, std::move(value), false};
    }
    const QString recoveredFrom = m_recoveredSecretAccounts.value(account);
    if (!recoveredFrom.isEmpty()) {
        if (std::optional<QString> value = m_secretStore->readSecret(recoveredFrom))
            return {recoveredFrom, parseSecretAccount(recoveredFrom)->generation, std::move(value), false};
        m_recoveredSecretAccounts.remove(account);
    } else if (m_missingSecretAccounts.contains(account)) {
        return {account, generation, std::nullopt, false};
    }
    // Listed once a request, and only when an item is newly missing.
    if (!keyringAccounts)
        keyringAccounts = m_secretStore->allAccounts();
    for (const auto &[other, otherGeneration] :
         otherItemsNewestFirst(*keyringAccounts, profileId, variableId, account)) {
        if (std::optional<QString> value = m_secretStore->readSecret(other)) {
            m_recoveredSecretAccounts.insert(account, other);
            const bool told = !value->isEmpty(); // an emptied secret has nothing to check
            return {other, otherGeneration, std::move(value), told};
        }
    }
    m_missingSecretAccounts.insert(account);
    return {account, generation, std::nullopt, false};
}

QList<EnvironmentVariable>
EnvironmentProfilesRepository::storeSecrets(const EnvironmentProfile &profile,
                                            const std::optional<EnvironmentProfile> &previous, KeyringChanges &changes)
{
    QHash<QUuid, EnvironmentVariable> storedSecrets;
    if (previous) {
        for (const EnvironmentVariable &variable : previous->variables) {
            if (variable.isSecret)
                storedSecrets.insert(variable.id, variable);
        }
    }
    QList<EnvironmentVariable> variables = profile.variables;
    std::optional<QStringList> keyringAccounts;
    for (EnvironmentVariable &variable : variables) {
        variable.secretGeneration.reset();
        const bool wasSecret = storedSecrets.contains(variable.id);
        const std::optional<qint64> storedGeneration = storedSecrets.take(variable.id).secretGeneration;
        const QString storedAccount = secretAccount(profile.id, variable.id, storedGeneration);
        if (!variable.isSecret) {
            if (wasSecret)
                changes.replaced.append(storedAccount);
            continue;
        }
        QString value = std::exchange(variable.value, QString());
        const auto wipeValue = qScopeGuard([&value] { SensitiveBytes::wipe(value); });
        if (wasSecret) {
            // An empty value that was never read is not the person clearing
            // it: the item keeps what the keyring holds.
            if (value.isEmpty() && m_unavailableSecretAccounts.contains(storedAccount)) {
                variable.secretGeneration = storedGeneration;
                changes.unread.insert(secretAccount(profile.id, variable.id));
                continue;
            }
            // The value's item, which a record that lost track of it does not name.
            StoredSecret held {storedAccount, storedGeneration, std::nullopt, false};
            bool read = false;
            try {
                held = readStoredSecret(profile.id, variable.id, storedGeneration, keyringAccounts);
                read = true;
            } catch (const KeychainError &) {
                // A value the keyring will not give back is replaced by the one given now.
            }
            const auto wipeHeld = qScopeGuard([&held] {
                if (held.value)
                    SensitiveBytes::wipe(*held.value);
            });
            if (value.isEmpty() && !held.value)
                changes.unread.insert(secretAccount(profile.id, variable.id));
            if (read && held.value.value_or(QString()) == value) {
                variable.secretGeneration = held.generation;
                continue;
            }
            changes.replaced.append(held.account);
            // A replaced value goes to a new item, so that a crash before the
            // file is written leaves the old item the old file names.
            if (held.generation.value_or(0) >= EnvironmentVariable::maxSecretGeneration)
                throw FileStoreError(QStringLiteral("The secret value of %1 cannot be changed any more. "
                                                    "Remove the variable and add it again.")
                                         .arg(EnvironmentVariable::trimmedKey(variable.key)));
            variable.secretGeneration = held.generation.value_or(0) + 1;
        }
        // A first value keeps the plain account (no generation), which a build
        // from before generations can still read.
        const QString account = secretAccount(profile.id, variable.id, variable.secretGeneration);
        // An item under the new account can only be one an interrupted save
        // left; no file names it. An empty value keeps an item too: a record
        // whose item is missing has lost track of its value, never emptied it.
        changes.written.append(account);
        m_secretStore->saveSecret(account, value);
        m_unavailableSecretAccounts.remove(account);
    }
    // Secrets the profile no longer has.
    for (const EnvironmentVariable &variable : std::as_const(storedSecrets))
        changes.replaced.append(secretAccount(profile.id, variable.id, variable.secretGeneration));
    return variables;
}

void EnvironmentProfilesRepository::writeSettlingKeyring(KeyringChanges &changes, const std::function<void()> &write)
{
    try {
        write();
    } catch (const FileNotDurableError &) {
        // The new file is in place but may still give way to the old one.
        throw;
    } catch (...) {
        for (const QString &account : std::as_const(changes.written))
            deleteSecretIfPossible(account);
        throw;
    }
    for (const QString &account : std::as_const(changes.replaced))
        deleteSecretIfPossible(account);
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
            const QString account = secretAccount(record.id, variable.id, variable.secretGeneration);
            if (std::optional<QString> stored = m_secretStore->readSecret(account)) {
                SensitiveBytes::wipe(*stored);
            } else {
                changes.written.append(account);
                m_secretStore->saveSecret(account, variable.value);
            }
            SensitiveBytes::wipe(variable.value);
            variable.value.clear();
        }
    }
}

void EnvironmentProfilesRepository::deleteOrphanSecrets(const QList<Record> &records, const QUuid &profileId,
                                                        const std::optional<ProtectedPayloadCrypto> &key,
                                                        const QSet<QString> &spared)
{
    QSet<QString> owned;
    QSet<QString> namedVariables = spared;
    const bool profileKnown = collectOwnedSecrets(records, profileId, key, owned);
    // A sealed record, or one without its payload, does not tell what it owns.
    // Another profile's items are spared by variable, whatever their generation.
    QSet<QUuid> unknown;
    for (const Record &record : records) {
        if (record.isProtected || !record.clearPayload) {
            unknown.insert(record.id);
            continue;
        }
        if (record.id == profileId)
            continue;
        for (const EnvironmentVariable &variable : record.clearPayload->variables)
            namedVariables.insert(secretAccount(record.id, variable.id));
    }
    deleteUnownedSecrets(owned, namedVariables, [&](const QUuid &candidate) {
        return (profileKnown && candidate == profileId) || !unknown.contains(candidate);
    });
}

void EnvironmentProfilesRepository::deleteLeftoverSecrets(const QList<Record> &records, const QUuid &profileId,
                                                          const std::optional<ProtectedPayloadCrypto> &key)
{
    QSet<QString> owned;
    if (collectOwnedSecrets(records, profileId, key, owned))
        deleteUnownedSecrets(owned, {}, [&profileId](const QUuid &candidate) { return candidate == profileId; });
}

bool EnvironmentProfilesRepository::collectOwnedSecrets(const QList<Record> &records, const QUuid &profileId,
                                                        const std::optional<ProtectedPayloadCrypto> &key,
                                                        QSet<QString> &owned)
{
    for (const Record &record : records) {
        if (record.id != profileId)
            continue;
        try {
            QList<EnvironmentVariable> variables = storedVariables(record, key);
            for (const EnvironmentVariable &variable : std::as_const(variables)) {
                if (variable.isSecret)
                    owned.insert(secretAccount(record.id, variable.id, variable.secretGeneration));
            }
            EnvironmentVariable::wipeValues(variables);
        } catch (const ProtectedProfilesError &) {
            return false; // a record that cannot be opened does not tell what it owns
        }
    }
    return true;
}

// Accounts are compared in their parsed form, so an item spelt differently
// from what the file names is never taken for another profile's; an "env."
// account of any other form is left alone.
void EnvironmentProfilesRepository::deleteUnownedSecrets(const QSet<QString> &owned,
                                                         const QSet<QString> &namedVariables,
                                                         const std::function<bool(const QUuid &)> &sweepsProfile)
{
    const QStringList accounts = m_secretStore->allAccounts();
    for (const QString &account : accounts) {
        const std::optional<SecretItem> item = parseSecretAccount(account);
        if (!item || !sweepsProfile(item->profileId)
            || namedVariables.contains(secretAccount(item->profileId, item->variableId)))
            continue;
        if (!owned.contains(secretAccount(item->profileId, item->variableId, item->generation)))
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
    if (profile.isProtected && !key)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);

    RecordsLoad load = readRecordsForUpdate();
    QList<Record> &records = load.records;
    const qsizetype existing = indexOfRecord(records, profile.id);

    std::optional<EnvironmentProfile> previous;
    const auto wipePrevious = qScopeGuard([&previous] {
        if (previous)
            EnvironmentVariable::wipeValues(previous->variables);
    });
    if (existing >= 0) {
        const Record &record = records.at(existing);
        previous = EnvironmentProfile {record.id,          record.name,      storedVariables(record, key),
                                       record.isProtected, record.createdAt, record.updatedAt};
    }

    KeyringChanges changes;
    writeSettlingKeyring(changes, [&] { writeProfileRecords(profile, previous, key, records, existing, changes); });

    // After a load that could not read the file, the records written know
    // nothing of the profiles in the unreadable copy: sweeping now would delete
    // their secrets for good.
    if (load.complete && !hasSetAsideCopies()) {
        deleteOrphanSecrets(records, profile.id, key, changes.unread);
    }

    return profilesOf(records).profiles;
}

void EnvironmentProfilesRepository::writeProfileRecords(const EnvironmentProfile &profile,
                                                        const std::optional<EnvironmentProfile> &previous,
                                                        const std::optional<ProtectedPayloadCrypto> &key,
                                                        QList<Record> &records, qsizetype existing,
                                                        KeyringChanges &changes)
{
    Record record;
    record.id = profile.id;
    record.name = profile.name;
    record.createdAt = profile.createdAt;
    record.updatedAt = profile.updatedAt;
    record.isProtected = profile.isProtected;
    const EnvironmentProfileClearPayload payload {storeSecrets(profile, previous, changes)};
    if (profile.isProtected) {
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
    RecordsLoad load = readRecordsForUpdate();
    QList<Record> &records = load.records;
    const qsizetype existing = indexOfRecord(records, id);
    KeyringChanges changes;
    if (existing >= 0) {
        const Record &record = records.at(existing);
        QList<EnvironmentVariable> variables = storedVariables(record, key);
        for (const EnvironmentVariable &variable : std::as_const(variables)) {
            if (variable.isSecret)
                changes.replaced.append(secretAccount(record.id, variable.id, variable.secretGeneration));
        }
        EnvironmentVariable::wipeValues(variables);
    }
    records.removeIf([&id](const Record &record) { return record.id == id; });

    // Its secrets go only once the file no longer names the profile.
    writeSettlingKeyring(changes, [&] {
        moveClearSecretValuesToKeyring(records, changes);
        writeRecords(records);
    });
    if (existing >= 0 && load.complete && !hasSetAsideCopies())
        deleteLeftoverSecrets(records, id, key);
    return profilesOf(records).profiles;
}
