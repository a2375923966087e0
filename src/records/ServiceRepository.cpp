#include "records/ServiceRepository.h"

#include "platform/Logging.h"
#include "records/VersionedRecordsFile.h"
#include "records/ProtectedProfilesError.h"

#include <QScopeGuard>

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
    : m_recordsStore(path),
      m_list(m_recordsStore.file())
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
        const auto edit = [&service](QList<Entry> &entries) {
            const auto existing = std::find_if(entries.begin(), entries.end(),
                                               [&](const Entry &entry) { return entry.record.id == service.id; });
            if (existing == entries.end()) {
                entries.append({PersistedManagedServiceRecord::clear(service)});
                return;
            }
            // The placeholder of an encrypted record has an empty command; saving it
            // would replace the real command for good.
            if (existing->record.isProtected)
                throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);
            *existing = {PersistedManagedServiceRecord::clear(service)};
        };
        return servicesOf(update(edit)).services;
    });
}

QFuture<void> ServiceRepository::deleteService(const QUuid &serviceId)
{
    return m_executor.run([this, serviceId] {
        update([&serviceId](QList<Entry> &entries) {
            entries.removeIf([&](const Entry &entry) { return entry.record.id == serviceId; });
        });
    });
}

QFuture<QList<ManagedService>> ServiceRepository::migrateLegacyEncryptedRecords(ProtectedServicePayloadOpener opener)
{
    return m_executor.run([this, opener = std::move(opener)] {
        const auto edit = [&opener](QList<Entry> &entries) {
            for (Entry &entry : entries) {
                const PersistedManagedServiceRecord &record = entry.record;
                if (!record.isProtected)
                    continue;
                PersistedManagedServiceRecord migrated;
                migrated.id = record.id;
                migrated.name = record.name;
                migrated.createdAt = record.createdAt;
                migrated.updatedAt = record.updatedAt;
                migrated.clearPayload = openPayload(record, opener);
                entry = {std::move(migrated)};
            }
        };
        return servicesOf(update(edit)).services;
    });
}

QList<PersistedManagedServiceRecord> ServiceRepository::readRecords()
{
    return readRecordsFile().records;
}

QList<PersistedManagedServiceRecord> ServiceRepository::update(const Edit &edit)
{
    if (m_records && m_list.layout()) {
        QList<Entry> entries;
        entries.reserve(m_records->size());
        for (qsizetype index = 0; index < m_records->size(); ++index)
            entries.append({m_records->at(index), m_layoutWrittenHere ? index : -1});
        edit(entries);
        if (writePlan(entries))
            return *m_records;
        // Someone else wrote the file: start over from what it holds now.
    }
    VersionedRecordsRead<PersistedManagedServiceRecord> read = readRecordsFile();
    read.requireRead();
    QList<Entry> entries;
    entries.reserve(read.records.size());
    for (PersistedManagedServiceRecord &record : read.records)
        entries.append({std::move(record)});
    edit(entries);
    writeWhole(entries);
    return *m_records;
}

bool ServiceRepository::writePlan(const QList<Entry> &entries)
{
    QList<PersistedManagedServiceRecord> records;
    QList<RecordListFile::Piece> plan;
    records.reserve(entries.size());
    plan.reserve(entries.size());
    for (const Entry &entry : entries) {
        records.append(entry.record);
        if (entry.stored >= 0)
            plan.append(RecordListFile::Piece::keep(entry.stored));
        else
            plan.append(RecordListFile::Piece::record([&entry] { return encodePrettyJsonElement(entry.record); }));
    }
    JsonFile &file = m_list.file();
    std::lock_guard lock(file.mutex());
    m_records.reset();
    m_recordsStore.confirmReadableLocked();
    if (m_list.writePlanLocked(plan) != RecordListFile::PlanResult::written)
        return false;
    m_records = std::move(records);
    m_layoutWrittenHere = true;
    return true;
}

void ServiceRepository::writeWhole(const QList<Entry> &entries)
{
    QList<PersistedManagedServiceRecord> records;
    records.reserve(entries.size());
    for (const Entry &entry : entries)
        records.append(entry.record);
    JsonFile &file = m_list.file();
    std::lock_guard lock(file.mutex());
    m_records.reset();
    m_list.forgetLayout();
    m_recordsStore.confirmReadableLocked();
    m_list.writeWholeLocked([&records](const RecordListFile::ElementSink &put) {
        for (const PersistedManagedServiceRecord &record : records)
            put(encodePrettyJsonElement(record));
    });
    m_records = std::move(records);
    m_layoutWrittenHere = true;
}

VersionedRecordsRead<PersistedManagedServiceRecord> ServiceRepository::readRecordsFile()
{
    const auto convertLegacy = [](const json::Value &element) {
        return PersistedManagedServiceRecord::clear(ManagedService::fromJson(element));
    };
    VersionedRecordsRead<PersistedManagedServiceRecord> read;
    {
        JsonFile &file = m_recordsStore.file();
        std::lock_guard lock(file.mutex());
        std::optional<QByteArray> bytes;
        try {
            if (m_records && m_list.holdsLayoutLocked()) {
                read.records = *m_records;
                file.markReadable();
                return read;
            }
            m_records.reset();
            bytes = file.readLocked();
        } catch (const FileStoreError &error) {
            m_records.reset();
            read.readError = error;
        }
        if (bytes) {
            // The layout is taken while the text is checked for UTF-8, on
            // another core, and must be done before the parser decodes the
            // text in place.
            QFuture<bool> indexing =
                m_layoutIndexer.run([this, text = QByteArrayView(*bytes)] { return m_list.indexLocked(text); });
            const auto waitForIndexer = qScopeGuard([&indexing] { indexing.waitForFinished(); });
            read = decodeVersionedRecords<PersistedManagedServiceRecord>(file, std::move(*bytes),
                                                                         {"command", "executablePath"}, convertLegacy,
                                                                         [&indexing] { indexing.waitForFinished(); });
            const bool indexed = indexing.result();
            // Only what decoded whole is worth keeping. Its records' text may
            // be laid out otherwise than the encoder would (another writer, an
            // older layout), so it is encoded again at the next write.
            if (indexed && read.complete()) {
                m_records = read.records;
                m_layoutWrittenHere = false;
            } else {
                m_list.forgetLayout();
            }
        }
    }
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
