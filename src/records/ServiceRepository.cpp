#include "records/ServiceRepository.h"

#include "platform/Logging.h"
#include "records/VersionedRecordsFile.h"
#include "records/ProtectedProfilesError.h"

#include <optional>

namespace {

ManagedServiceClearPayload openPayload(const PersistedManagedServiceRecord &record,
                                       const ProtectedServicePayloadOpener &opener)
{
    using Case = ProtectedProfilesError::Case;
    if (!record.encryptedPayload)
        throw ProtectedProfilesError(Case::locked);
    // Whatever goes wrong while opening, the user learns only that it could not be opened.
    try {
        return decodeJson<ManagedServiceClearPayload>(opener(record.id, *record.encryptedPayload));
    } catch (const ProtectedProfilesError &) {
        throw;
    } catch (const std::exception &) {
        throw ProtectedProfilesError(Case::decryptionFailed);
    }
}

} // namespace

ServiceRepository::ServiceRepository(const QString &path)
    : m_recordsStore(path)
{}

QFuture<QList<PersistedManagedServiceRecord>> ServiceRepository::loadRecords()
{
    return m_executor.run([this] { return readRecords(); });
}

QFuture<LoadedServices> ServiceRepository::loadServices()
{
    return m_executor.run([this] { return readServices(); });
}

QFuture<QList<ManagedService>> ServiceRepository::saveService(const ManagedService &service)
{
    return m_executor.run([this, service] {
        QList<PersistedManagedServiceRecord> records = readRecordsForUpdate();
        const auto existing =
            std::find_if(records.begin(), records.end(), [&](const auto &record) { return record.id == service.id; });
        if (existing == records.end()) {
            records.append(PersistedManagedServiceRecord::clear(service));
        } else {
            // The placeholder of an encrypted record has an empty command; saving it
            // would replace the real command for good.
            if (existing->isProtected)
                throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);
            *existing = PersistedManagedServiceRecord::clear(service);
        }
        m_recordsStore.save(records);
        return servicesOf(records).services;
    });
}

QFuture<void> ServiceRepository::deleteService(const QUuid &serviceId)
{
    return m_executor.run([this, serviceId] {
        QList<PersistedManagedServiceRecord> records = readRecordsForUpdate();
        records.removeIf([&](const auto &record) { return record.id == serviceId; });
        m_recordsStore.save(records);
    });
}

QFuture<QList<ManagedService>> ServiceRepository::migrateLegacyEncryptedRecords(ProtectedServicePayloadOpener opener)
{
    return m_executor.run([this, opener = std::move(opener)] {
        QList<PersistedManagedServiceRecord> records = readRecordsForUpdate();
        for (PersistedManagedServiceRecord &record : records) {
            if (!record.isProtected)
                continue;
            PersistedManagedServiceRecord migrated;
            migrated.id = record.id;
            migrated.name = record.name;
            migrated.createdAt = record.createdAt;
            migrated.updatedAt = record.updatedAt;
            migrated.clearPayload = openPayload(record, opener);
            record = std::move(migrated);
        }
        m_recordsStore.save(records);
        return servicesOf(records).services;
    });
}

QList<PersistedManagedServiceRecord> ServiceRepository::readRecords()
{
    return readRecordsFile().records;
}

QList<PersistedManagedServiceRecord> ServiceRepository::readRecordsForUpdate()
{
    VersionedRecordsRead<PersistedManagedServiceRecord> read = readRecordsFile();
    read.requireRead();
    return std::move(read.records);
}

VersionedRecordsRead<PersistedManagedServiceRecord> ServiceRepository::readRecordsFile()
{
    const auto convertLegacy = [](const json::Value &element) {
        return PersistedManagedServiceRecord::clear(ManagedService::fromJson(element));
    };
    VersionedRecordsRead<PersistedManagedServiceRecord> read = readVersionedRecords<PersistedManagedServiceRecord>(
        m_recordsStore.file(), {"command", "executablePath"}, convertLegacy);
    // The older layout converts without loss; the next write replaces it.
    QStringList failures = read.failures;
    if (read.readError)
        failures.append(read.readError->message());
    for (const QString &failure : std::as_const(failures)) {
        if (read.currentLayout)
            qCCritical(lcPersistence, "Failed to load protected service records: %s", qUtf8Printable(failure));
        else
            qCCritical(lcPersistence, "Failed to migrate services.json: %s", qUtf8Printable(failure));
    }
    // A file that could not be read at all is not known to be damaged.
    if (!read.readError)
        setRecordsFileReadable(read.complete());
    return read;
}

LoadedServices ServiceRepository::readServices()
{
    return servicesOf(readRecords());
}

LoadedServices ServiceRepository::servicesOf(const QList<PersistedManagedServiceRecord> &records)
{
    LoadedServices loaded;
    for (const PersistedManagedServiceRecord &record : records) {
        if (record.isProtected) {
            ManagedService placeholder;
            placeholder.id = record.id;
            placeholder.name = record.name;
            placeholder.createdAt = record.createdAt;
            placeholder.updatedAt = record.updatedAt;
            loaded.services.append(placeholder);
            loaded.legacyEncryptedServiceIDs.insert(record.id);
        } else if (record.clearPayload) {
            loaded.services.append(ManagedService {
                record.id, record.name, record.clearPayload->command, record.clearPayload->openInTerminal,
                record.clearPayload->environmentProfileId, record.createdAt, record.updatedAt});
        }
    }
    return loaded;
}

void ServiceRepository::setRecordsFileReadable(bool readable)
{
    // Writes go through the records store, so that is where an unreadable file is set aside.
    JsonFile &file = m_recordsStore.file();
    std::lock_guard lock(file.mutex());
    if (readable)
        file.markReadable();
    else
        file.markUnreadable();
}
