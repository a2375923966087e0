#include "records/ServiceRunHistoryRepository.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

namespace {

// The record as it stands inside the file's array: the pretty-printed object
// with every line indented one level. JSON strings hold no raw line break, so
// every line break in the text is structural.
QByteArray arrayElementText(const ServiceRunRecord &record)
{
    const QByteArray object = encodePrettyJson(record);
    const qsizetype lines = object.count('\n');
    QByteArray text;
    text.reserve(object.size() + 2 * (lines + 1));
    text.append("  ");
    qsizetype start = 0;
    for (qsizetype end = object.indexOf('\n'); end >= 0; end = object.indexOf('\n', start)) {
        text.append(QByteArrayView(object).sliced(start, end + 1 - start));
        text.append("  ");
        start = end + 1;
    }
    text.append(QByteArrayView(object).sliced(start));
    return text;
}

QSet<QUuid> idsOf(const QList<ServiceRunRecord> &records)
{
    QSet<QUuid> ids;
    for (const ServiceRunRecord &record : records)
        ids.insert(record.id);
    return ids;
}

void maskSecrets(ServiceRunRecord &record)
{
    if (std::none_of(record.environment.cbegin(), record.environment.cend(), [](const auto &entry) {
            return entry.isSecret && entry.value != ServiceRunEnvironmentEntry::secretMask;
        }))
        return;
    redactSecretEnvironmentEntriesInPlace(record.environment);
}

} // namespace

QList<ServiceRunRecord> limitRunHistoryPerService(QList<ServiceRunRecord> records)
{
    // Walks from the front, so the newest records of each service are the ones kept.
    QHash<QUuid, qsizetype> counts;
    QList<ServiceRunRecord> kept;
    kept.reserve(records.size());
    for (ServiceRunRecord &record : records) {
        qsizetype &count = counts[record.serviceId];
        if (count >= ServiceRunHistoryRepository::maximumRecordsPerService)
            continue;
        ++count;
        kept.append(std::move(record));
    }
    return kept;
}

bool runUsesProfile(const std::optional<QUuid> &profileId, const std::optional<QString> &profileName,
                    const QSet<QUuid> &profileIDs, const QSet<QString> &profileNames)
{
    if (profileId && profileIDs.contains(*profileId))
        return true;
    return profileName && profileNames.contains(*profileName);
}

bool maskEveryEntry(QList<ServiceRunEnvironmentEntry> &entries)
{
    bool changed = false;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const ServiceRunEnvironmentEntry &entry = std::as_const(entries)[index];
        if (entry.isSecret && entry.value == ServiceRunEnvironmentEntry::secretMask)
            continue;
        entries[index].value = ServiceRunEnvironmentEntry::secretMask;
        entries[index].isSecret = true;
        changed = true;
    }
    return changed;
}

bool maskRunsOfProfiles(QList<ServiceRunRecord> &records, const QSet<QUuid> &profileIDs,
                        const QSet<QString> &profileNames)
{
    bool changed = false;
    for (qsizetype index = 0; index < records.size(); ++index) {
        const ServiceRunRecord &record = std::as_const(records)[index];
        if (!runUsesProfile(record.environmentProfileId, record.environmentProfileName, profileIDs, profileNames))
            continue;
        QList<ServiceRunEnvironmentEntry> environment = record.environment;
        if (maskEveryEntry(environment)) {
            records[index].environment = std::move(environment);
            changed = true;
        }
    }
    return changed;
}

ServiceRunHistoryRepository::ServiceRunHistoryRepository(const QString &path)
    : m_store(path),
      m_hashSeed(static_cast<size_t>(QRandomGenerator::global()->generate64()))
{}

QFuture<void> ServiceRunHistoryRepository::append(const ServiceRunRecord &record, QList<ServiceRunRecord> unwritten)
{
    return appendAll({record}, std::move(unwritten));
}

QFuture<void> ServiceRunHistoryRepository::appendAll(QList<ServiceRunRecord> newestFirst,
                                                     QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, newestFirst = std::move(newestFirst), unwritten = std::move(unwritten)] {
        // Many runs of one service finished at once may exceed its limit by themselves.
        const QList<ServiceRunRecord> front = limitRunHistoryPerService(newestFirst + unwritten);
        QHash<QUuid, qsizetype> counts;
        for (const ServiceRunRecord &run : front)
            ++counts[run.serviceId];
        const QSet<QUuid> replaced = idsOf(unwritten);
        const auto withinLimit = [&counts, &replaced](const QUuid &id, const QUuid &serviceId) {
            return !replaced.contains(id) && ++counts[serviceId] <= maximumRecordsPerService;
        };
        if (rewriteStored(front, withinLimit))
            return;
        writeRecords(limitRunHistoryPerService(loadWithFront(front, unwritten)));
    });
}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::load()
{
    return m_executor.run([this] { return m_store.load({}); });
}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::loadChecked()
{
    return m_executor.run([this] { return m_store.loadForUpdate({}); });
}

QFuture<void> ServiceRunHistoryRepository::deleteRecord(const QUuid &recordId, QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, recordId, unwritten = std::move(unwritten)] {
        const QSet<QUuid> replaced = idsOf(unwritten);
        const auto keep = [&](const QUuid &id, const QUuid &) { return id != recordId && !replaced.contains(id); };
        if (rewriteStored(unwritten, keep))
            return;
        QList<ServiceRunRecord> records = loadWithFront(unwritten, unwritten);
        records.removeIf([&](const ServiceRunRecord &record) { return record.id == recordId; });
        writeRecords(std::move(records));
    });
}

QFuture<void> ServiceRunHistoryRepository::clear(const QUuid &serviceId, QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, serviceId, unwritten = std::move(unwritten)] {
        const QSet<QUuid> replaced = idsOf(unwritten);
        const auto keep = [&](const QUuid &id, const QUuid &service) {
            return service != serviceId && !replaced.contains(id);
        };
        if (rewriteStored(unwritten, keep))
            return;
        QList<ServiceRunRecord> records = loadWithFront(unwritten, unwritten);
        records.removeIf([&](const ServiceRunRecord &record) { return record.serviceId == serviceId; });
        writeRecords(std::move(records));
    });
}

QList<ServiceRunRecord> ServiceRunHistoryRepository::loadWithFront(QList<ServiceRunRecord> front,
                                                                   const QList<ServiceRunRecord> &unwritten)
{
    const QSet<QUuid> replaced = idsOf(unwritten);
    QList<ServiceRunRecord> stored = m_store.loadForUpdate({});
    stored.removeIf([&replaced](const ServiceRunRecord &record) { return replaced.contains(record.id); });
    front.append(std::move(stored));
    return front;
}

QFuture<void> ServiceRunHistoryRepository::replaceAll(const QList<ServiceRunRecord> &records)
{
    return m_executor.run([this, records] { writeRecords(records); });
}

QFuture<void> ServiceRunHistoryRepository::redactProfiles(const QSet<QUuid> &profileIDs,
                                                          const QSet<QString> &profileNames,
                                                          QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, profileIDs, profileNames, unwritten = std::move(unwritten)] {
        QList<ServiceRunRecord> records = loadWithFront(unwritten, unwritten);
        if (maskRunsOfProfiles(records, profileIDs, profileNames) || !unwritten.isEmpty())
            writeRecords(std::move(records));
    });
}

void ServiceRunHistoryRepository::writeRecords(QList<ServiceRunRecord> records)
{
    // Every record's secrets, not only a new one's: a clear value in a
    // hand-edited file must not be written back.
    QList<QByteArray> encoded;
    encoded.reserve(records.size());
    QList<StoredRecord> stored;
    stored.reserve(records.size());
    for (ServiceRunRecord &record : records) {
        maskSecrets(record);
        encoded.append(arrayElementText(record));
        stored.append({record.id, record.serviceId, 0, 0});
        record.output.clear(); // the text is encoded; free the output early
    }
    records.clear();
    QList<QByteArrayView> texts(encoded.cbegin(), encoded.cend());
    writeTexts(texts, stored);
}

bool ServiceRunHistoryRepository::rewriteStored(const QList<ServiceRunRecord> &front, const Keep &keep)
{
    std::optional<QByteArray> bytes;
    {
        JsonFile &file = m_store.file();
        std::lock_guard lock(file.mutex());
        if (!m_layout)
            return false;
        try {
            bytes = file.readLocked();
        } catch (const FileStoreError &) {
            m_layout.reset();
            throw;
        }
        // Offsets fit only the very bytes written: neither a path check nor the
        // timestamps (coarse on many file systems) can tell an edit of the same
        // size apart, the contents can.
        if (!bytes || bytes->size() != m_layout->size || contentHash(*bytes) != m_layout->hash) {
            m_layout.reset();
            return false;
        }
    }

    QList<QByteArray> frontTexts;
    frontTexts.reserve(front.size());
    QList<QByteArrayView> texts;
    QList<StoredRecord> stored;
    for (ServiceRunRecord masked : front) {
        maskSecrets(masked);
        frontTexts.append(arrayElementText(masked));
        texts.append(frontTexts.constLast());
        stored.append({masked.id, masked.serviceId, 0, 0});
    }
    for (const StoredRecord &record : std::as_const(m_layout->records)) {
        if (!keep(record.id, record.serviceId))
            continue;
        texts.append(QByteArrayView(*bytes).sliced(record.offset, record.length));
        stored.append(record);
    }
    writeTexts(texts, stored);
    return true;
}

void ServiceRunHistoryRepository::writeTexts(const QList<QByteArrayView> &texts, const QList<StoredRecord> &records)
{
    // The same bytes the file store's pretty encoder writes for the whole list.
    QByteArray output;
    QList<StoredRecord> layout = records;
    if (texts.isEmpty()) {
        output = "[]";
    } else {
        qsizetype size = 4;
        for (const QByteArrayView &text : texts)
            size += text.size() + 2;
        output.reserve(size);
        output.append("[\n");
        for (qsizetype index = 0; index < texts.size(); ++index) {
            if (index > 0)
                output.append(",\n");
            layout[index].offset = output.size();
            layout[index].length = texts[index].size();
            output.append(texts[index]);
        }
        output.append("\n]");
    }

    JsonFile &file = m_store.file();
    std::lock_guard lock(file.mutex());
    m_layout.reset();
    m_store.confirmReadableLocked();
    file.writeLocked(output);
    m_layout = Layout {output.size(), contentHash(output), std::move(layout)};
}

size_t ServiceRunHistoryRepository::contentHash(QByteArrayView bytes) const
{
    return qHash(bytes, m_hashSeed);
}
