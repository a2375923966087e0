#include "records/ServiceRepository.h"

#include "platform/Logging.h"
#include "records/ContentHash.h"
#include "records/VersionedRecordsFile.h"
#include "records/ProtectedProfilesError.h"

#include <QRandomGenerator>

#include <optional>

namespace {

// The layout of the list, as the file store's pretty encoder writes it.
constexpr QByteArrayView listOpening = "[\n";
constexpr QByteArrayView listSeparator = ",\n";
constexpr QByteArrayView listClosing = "\n]";
constexpr QByteArrayView emptyList = "[]";

// Thrown by a spliced write that found the file no longer holds the snapshot's bytes.
struct StoredTextChanged {};

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
    if (m_snapshot && !m_snapshot->spans.isEmpty()) {
        QList<Entry> entries;
        entries.reserve(m_snapshot->records.size());
        for (qsizetype index = 0; index < m_snapshot->records.size(); ++index)
            entries.append({m_snapshot->records.at(index), m_snapshot->spans.at(index)});
        edit(entries);
        try {
            writeSpliced(entries);
            return m_snapshot->records;
        } catch (const StoredTextChanged &) {
            // Someone else wrote the file: start over from what it holds now.
        }
    }

    bool confirmed = false;
    {
        std::lock_guard lock(m_recordsStore.file().mutex());
        confirmed = confirmSnapshotLocked();
    }
    QList<Entry> entries;
    if (confirmed) {
        entries.reserve(m_snapshot->records.size());
        for (const PersistedManagedServiceRecord &record : std::as_const(m_snapshot->records))
            entries.append({record, std::nullopt});
    } else {
        VersionedRecordsRead<PersistedManagedServiceRecord> read = readRecordsFile();
        read.requireRead();
        entries.reserve(read.records.size());
        for (PersistedManagedServiceRecord &record : read.records)
            entries.append({std::move(record), std::nullopt});
    }
    edit(entries);
    writeWhole(entries);
    return m_snapshot->records;
}

bool ServiceRepository::confirmSnapshotLocked()
{
    if (!m_snapshot)
        return false;
    // Only a check: the content streams through a small buffer, never held whole.
    ContentHash hash(m_hashSeed);
    qsizetype size = 0;
    bool exists = false;
    try {
        exists = m_recordsStore.file().readPiecesLocked([&](QByteArrayView piece) {
            hash.add(piece);
            size += piece.size();
        });
    } catch (const FileStoreError &) {
        m_snapshot.reset();
        throw;
    }
    if (exists && m_snapshot->size == size && m_snapshot->hash == hash.result())
        return true;
    m_snapshot.reset();
    return false;
}

void ServiceRepository::writeWhole(const QList<Entry> &entries)
{
    Snapshot written;
    written.records.reserve(entries.size());
    written.spans.reserve(entries.size());
    ContentHash hash(m_hashSeed);
    JsonFile &file = m_recordsStore.file();
    std::lock_guard lock(file.mutex());
    m_snapshot.reset();
    m_recordsStore.confirmReadableLocked();
    for (const Entry &entry : entries)
        written.records.append(entry.record);
    file.writeLocked([&](const JsonFile::WriteSink &put) {
        const auto emit = [&](QByteArrayView bytes) {
            hash.add(bytes);
            put(bytes);
            written.size += bytes.size();
        };
        encodePrettyJsonPieces(written.records, emit, [&](QByteArrayView element) {
            written.spans.append({written.size, element.size()});
            emit(element);
        });
    });
    written.hash = hash.result();
    m_snapshot = std::move(written);
}

void ServiceRepository::writeSpliced(const QList<Entry> &entries)
{
    // What to write, in order: text encoded now, or a range of the stored
    // bytes. Stored neighbours, and the separator between them, make one range.
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
    const auto add = [&](bool fromStored, qsizetype offset, qsizetype length) {
        written.size += length;
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
    qsizetype storedEnd = 0;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const Entry &entry = entries.at(index);
        written.records.append(entry.record);
        const std::optional<json::TextSpan> &span = entry.stored;
        // The stored bytes are read once, front to back; an edit never reorders them.
        if (span && span->offset < storedEnd)
            throw StoredTextChanged();
        const Piece *last = pieces.isEmpty() ? nullptr : &pieces.constLast();
        if (span && index > 0 && last->fromStored
            && last->offset + last->length + listSeparator.size() == span->offset) {
            add(true, span->offset - listSeparator.size(), listSeparator.size() + span->length);
            written.spans.append({written.size - span->length, span->length});
        } else {
            addFresh(index == 0 ? listOpening : listSeparator);
            const qsizetype start = written.size;
            if (span)
                add(true, span->offset, span->length);
            else
                addFresh(encodePrettyJsonElement(entry.record));
            written.spans.append({start, written.size - start});
        }
        if (span)
            storedEnd = span->offset + span->length;
    }
    addFresh(entries.isEmpty() ? emptyList : listClosing);

    JsonFile &file = m_recordsStore.file();
    std::lock_guard lock(file.mutex());
    const qsizetype expectedSize = m_snapshot->size;
    const size_t expectedHash = m_snapshot->hash;
    m_snapshot.reset();
    m_recordsStore.confirmReadableLocked();
    ContentHash writtenHash(m_hashSeed);
    // The stored ranges are copied from the file as it is read through, and
    // the whole of it is checked against the snapshot before the new file
    // replaces it: bytes that changed meanwhile are never kept.
    file.writeLocked([&](const JsonFile::WriteSink &put) {
        const auto emit = [&](QByteArrayView bytes) {
            writtenHash.add(bytes);
            put(bytes);
        };
        qsizetype next = 0;
        qsizetype copied = 0; // of the stored range pieces[next]
        const auto emitFresh = [&] {
            for (; next < pieces.size() && !pieces.at(next).fromStored; ++next)
                emit(QByteArrayView(fresh).sliced(pieces.at(next).offset, pieces.at(next).length));
        };
        emitFresh();
        ContentHash storedHash(m_hashSeed);
        qsizetype position = 0;
        const bool exists = file.readPiecesLocked([&](QByteArrayView chunk) {
            storedHash.add(chunk);
            const qsizetype chunkStart = position;
            position += chunk.size();
            while (next < pieces.size()) {
                const Piece &piece = pieces.at(next);
                const qsizetype from = std::max(piece.offset + copied, chunkStart);
                const qsizetype to = std::min(piece.offset + piece.length, position);
                if (from < to) {
                    emit(chunk.sliced(from - chunkStart, to - from));
                    copied += to - from;
                }
                if (copied < piece.length)
                    return;
                ++next;
                copied = 0;
                emitFresh();
            }
        });
        if (!exists || next < pieces.size() || position != expectedSize || storedHash.result() != expectedHash)
            throw StoredTextChanged();
    });
    written.hash = writtenHash.result();
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
            if (confirmSnapshotLocked()) {
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
