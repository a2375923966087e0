#include "records/ServiceRepository.h"

#include "platform/Logging.h"
#include "records/ContentHash.h"
#include "records/VersionedRecordsFile.h"
#include "records/ProtectedProfilesError.h"

#include <QRandomGenerator>

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
    : m_recordsStore(path),
      m_hashSeed(static_cast<size_t>(QRandomGenerator::global()->generate64()))
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
                entries.append({PersistedManagedServiceRecord::clear(service), std::nullopt});
                return;
            }
            // The placeholder of an encrypted record has an empty command; saving it
            // would replace the real command for good.
            if (existing->record.isProtected)
                throw ProtectedProfilesError(ProtectedProfilesError::Case::locked);
            *existing = {PersistedManagedServiceRecord::clear(service), std::nullopt};
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
                entry = {std::move(migrated), std::nullopt};
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
    QList<Entry> entries;
    std::optional<QByteArray> stored;
    bool confirmed = false;
    {
        std::lock_guard lock(m_recordsStore.file().mutex());
        confirmed = confirmSnapshotLocked(&stored);
    }
    if (confirmed) {
        entries.reserve(m_snapshot->records.size());
        for (qsizetype index = 0; index < m_snapshot->records.size(); ++index) {
            std::optional<json::TextSpan> span;
            if (!m_snapshot->spans.isEmpty())
                span = m_snapshot->spans.at(index);
            entries.append({m_snapshot->records.at(index), span});
        }
    } else {
        VersionedRecordsRead<PersistedManagedServiceRecord> read = readRecordsFile();
        read.requireRead();
        entries.reserve(read.records.size());
        for (PersistedManagedServiceRecord &record : read.records)
            entries.append({std::move(record), std::nullopt});
    }
    edit(entries);
    write(entries, stored);
    return m_snapshot->records;
}

bool ServiceRepository::confirmSnapshotLocked(std::optional<QByteArray> *bytes)
{
    if (!m_snapshot)
        return false;
    JsonFile &file = m_recordsStore.file();
    bool matches = false;
    try {
        if (bytes && !m_snapshot->spans.isEmpty()) {
            *bytes = file.readLocked();
            matches = *bytes && matchesSnapshot(**bytes, ContentHash::of(**bytes, m_hashSeed));
        } else {
            // Only a check: the content streams through a small buffer, never held whole.
            ContentHash hash(m_hashSeed);
            qsizetype size = 0;
            const bool exists = file.readPiecesLocked([&](QByteArrayView piece) {
                hash.add(piece);
                size += piece.size();
            });
            matches = exists && m_snapshot->size == size && m_snapshot->hash == hash.result();
        }
    } catch (const FileStoreError &) {
        m_snapshot.reset();
        throw;
    }
    if (!matches) {
        m_snapshot.reset();
        if (bytes)
            bytes->reset();
    }
    return matches;
}

bool ServiceRepository::matchesSnapshot(QByteArrayView bytes, size_t hash) const
{
    return m_snapshot && m_snapshot->size == bytes.size() && m_snapshot->hash == hash;
}

void ServiceRepository::write(const QList<Entry> &entries, const std::optional<QByteArray> &stored)
{
    // A run of text to write: from the stored bytes, or from those encoded now.
    struct Piece {
        bool fromStored = false;
        qsizetype offset = 0;
        qsizetype length = 0;
    };
    QByteArray fresh;
    QList<Piece> pieces;
    Snapshot written;
    written.records.reserve(entries.size());
    written.spans.reserve(entries.size());
    for (const Entry &entry : entries)
        written.records.append(entry.record);

    const bool splice =
        stored && std::any_of(entries.cbegin(), entries.cend(), [](const Entry &entry) { return entry.stored; });
    if (!splice) {
        json::PrettyListWriter writer;
        for (const Entry &entry : entries) {
            json::Document document;
            written.spans.append(writer.append(entry.record.toJson(document.GetAllocator())));
        }
        fresh = writer.take();
        pieces.append({false, 0, fresh.size()});
        written.size = fresh.size();
    } else {
        // The same layout as the writer above: "[\n", the elements separated by
        // ",\n", "\n]". Stored neighbours, and the separator between them, go
        // in as one piece.
        qsizetype size = 0;
        const auto add = [&](bool fromStored, qsizetype offset, qsizetype length) {
            size += length;
            Piece *last = pieces.isEmpty() ? nullptr : &pieces.last();
            if (last && last->fromStored == fromStored && last->offset + last->length == offset)
                last->length += length;
            else
                pieces.append({fromStored, offset, length});
        };
        const auto addFresh = [&](QByteArrayView text) {
            add(false, fresh.size(), text.size());
            fresh.append(text);
        };
        constexpr qsizetype separatorLength = 2;
        for (qsizetype index = 0; index < entries.size(); ++index) {
            const std::optional<json::TextSpan> &span = entries.at(index).stored;
            const Piece *last = pieces.isEmpty() ? nullptr : &pieces.constLast();
            if (span && index > 0 && last->fromStored
                && last->offset + last->length + separatorLength == span->offset) {
                add(true, span->offset - separatorLength, separatorLength + span->length);
                written.spans.append({size - span->length, span->length});
                continue;
            }
            addFresh(index == 0 ? "[\n" : ",\n");
            const qsizetype start = size;
            if (span)
                add(true, span->offset, span->length);
            else
                addFresh(encodePrettyJsonElement(entries.at(index).record));
            written.spans.append({start, size - start});
        }
        addFresh(entries.isEmpty() ? "[]" : "\n]");
        written.size = size;
    }

    QList<QByteArrayView> parts;
    parts.reserve(pieces.size());
    ContentHash hash(m_hashSeed);
    for (const Piece &piece : std::as_const(pieces)) {
        parts.append(QByteArrayView(piece.fromStored ? *stored : fresh).sliced(piece.offset, piece.length));
        hash.add(parts.constLast());
    }
    written.hash = hash.result();

    JsonFile &file = m_recordsStore.file();
    std::lock_guard lock(file.mutex());
    m_snapshot.reset();
    m_recordsStore.confirmReadableLocked();
    file.writeLocked(parts);
    m_snapshot = std::move(written);
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
            if (confirmSnapshotLocked(nullptr)) {
                read.records = m_snapshot->records;
                file.markReadable();
                return read;
            }
            bytes = file.readLocked();
        } catch (const FileStoreError &error) {
            read.readError = error;
        }
        if (bytes) {
            const qsizetype size = bytes->size();
            const size_t hash = ContentHash::of(*bytes, m_hashSeed);
            read = decodeVersionedRecords<PersistedManagedServiceRecord>(file, std::move(*bytes),
                                                                         {"command", "executablePath"}, convertLegacy);
            // Only what decoded whole is worth keeping; its layout is not known.
            if (read.complete())
                m_snapshot = Snapshot {size, hash, read.records, {}};
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
