#include "records/ServiceRunHistoryRepository.h"

#include "records/ContentHash.h"
#include "records/FileStoreError.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cstring>

namespace {

// The record as it stands inside the file's array, from its opening brace on
// (the first line's indent belongs to the separator before it).
QByteArray arrayElementText(const ServiceRunRecord &record)
{
    QByteArray text = encodePrettyJsonElement(record);
    text.remove(0, 2); // erasing at the front moves no bytes
    return text;
}

QSet<QUuid> idsOf(const QList<ServiceRunRecord> &records)
{
    QSet<QUuid> ids;
    for (const ServiceRunRecord &record : records)
        ids.insert(record.id);
    return ids;
}

bool holdsClearSecret(const QList<ServiceRunEnvironmentEntry> &environment)
{
    return std::any_of(environment.cbegin(), environment.cend(), [](const ServiceRunEnvironmentEntry &entry) {
        return entry.isSecret && entry.value != ServiceRunEnvironmentEntry::secretMask;
    });
}

void maskSecrets(ServiceRunRecord &record)
{
    if (holdsClearSecret(record.environment))
        redactSecretEnvironmentEntriesInPlace(record.environment);
}

bool isJsonSpace(char character)
{
    return character == ' ' || character == '\n' || character == '\r' || character == '\t';
}

qsizetype skipSpace(QByteArrayView text, qsizetype at)
{
    while (at < text.size() && isJsonSpace(text[at]))
        ++at;
    return at;
}

// The quote that closes the string opened at `quote`, or -1. A quote is
// escaped exactly when an odd run of backslashes stands before it; the long
// outputs are crossed by memchr, not byte by byte.
qsizetype stringEnd(QByteArrayView text, qsizetype quote)
{
    qsizetype at = quote + 1;
    while (at < text.size()) {
        const void *found = std::memchr(text.data() + at, '"', static_cast<size_t>(text.size() - at));
        if (!found)
            return -1;
        const qsizetype end = static_cast<const char *>(found) - text.data();
        qsizetype backslashes = 0;
        while (end - backslashes - 1 > quote && text[end - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return end;
        at = end + 1;
    }
    return -1;
}

// One past the brace that closes the object opened at `start`, or -1. Only
// nesting and strings are followed: what lies between is the parser's to judge.
qsizetype objectEnd(QByteArrayView text, qsizetype start)
{
    qsizetype depth = 0;
    for (qsizetype at = start; at < text.size(); ++at) {
        switch (text[at]) {
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            if (--depth == 0)
                return text[at] == '}' ? at + 1 : -1;
            break;
        case '"':
            at = stringEnd(text, at);
            if (at < 0)
                return -1;
            break;
        default:
            break;
        }
    }
    return -1;
}

// From this size of file on, records are indexed on several cores.
constexpr qsizetype parallelIndexSize = qsizetype(8) << 20;

struct ElementSpan {
    qsizetype offset = 0;
    qsizetype length = 0;
};

// Where each object of a top-level JSON array lies, or nullopt when the text
// is not an array of objects (the full decode then says what is wrong).
std::optional<QList<ElementSpan>> arrayElementSpans(QByteArrayView text)
{
    QList<ElementSpan> spans;
    qsizetype at = skipSpace(text, 0);
    if (at == text.size() || text[at] != '[')
        return std::nullopt;
    at = skipSpace(text, at + 1);
    const auto closesHere = [&text](qsizetype bracket) { return skipSpace(text, bracket + 1) == text.size(); };
    if (at < text.size() && text[at] == ']')
        return closesHere(at) ? std::optional(spans) : std::nullopt;
    while (at < text.size() && text[at] == '{') {
        const qsizetype end = objectEnd(text, at);
        if (end < 0)
            return std::nullopt;
        spans.append({at, end - at});
        at = skipSpace(text, end);
        if (at < text.size() && text[at] == ']')
            return closesHere(at) ? std::optional(spans) : std::nullopt;
        if (at == text.size() || text[at] != ',')
            return std::nullopt;
        at = skipSpace(text, at + 1);
    }
    return std::nullopt;
}

// Thrown inside a spliced write when the file no longer holds what its layout says.
struct StoredTextChanged {};

json::ParsedDocument parseElement(QByteArrayView text)
{
    QByteArray copy;
    copy.reserve(text.size() + 16);
    copy.append(text);
    return json::parse(std::move(copy));
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
        const auto withinLimit = [&counts, &replaced](const StoredRecord &record) {
            return !replaced.contains(record.id) && ++counts[record.serviceId] <= maximumRecordsPerService
                       ? StoredAction::keep
                       : StoredAction::drop;
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
    return m_executor.run([this] { return loadIndexed(); });
}

QFuture<QString> ServiceRunHistoryRepository::readOutput(const QUuid &recordId)
{
    return m_executor.run([this, recordId] {
        if (std::optional<QString> output = readIndexedOutput(recordId))
            return *output;
        // The file changed since this repository last read or wrote it.
        const QList<ServiceRunRecord> records = loadIndexed();
        if (std::optional<QString> output = readIndexedOutput(recordId))
            return *output;
        for (const ServiceRunRecord &record : records) {
            if (record.id == recordId && record.output.isHeld())
                return record.output.text();
        }
        throw FileStoreError(
            QStringLiteral("The output of this run is no longer in the file “%1”.").arg(m_store.file().fileName()));
    });
}

QList<ServiceRunRecord> ServiceRunHistoryRepository::loadIndexed()
{
    {
        JsonFile &file = m_store.file();
        std::lock_guard lock(file.mutex());
        m_layout.reset();
        std::optional<QByteArray> bytes = file.readLocked();
        if (!bytes)
            return {};
        if (std::optional<Indexed> indexed = index(*bytes)) {
            file.markReadable();
            m_layout = std::move(indexed->layout);
            return std::move(indexed->records);
        }
    }
    // Not a list of records: the full decode tells what is wrong and has the file set aside.
    return m_store.loadForUpdate({});
}

std::optional<ServiceRunHistoryRepository::Indexed> ServiceRunHistoryRepository::index(QByteArrayView bytes) const
{
    const std::optional<QList<ElementSpan>> spans = arrayElementSpans(bytes);
    if (!spans)
        return std::nullopt;
    struct Element {
        std::optional<ServiceRunRecord> record; // nullopt when it does not decode
        size_t hash = 0;
    };
    const auto decode = [this, bytes](const ElementSpan &span) {
        const QByteArrayView text = bytes.sliced(span.offset, span.length);
        Element element;
        try {
            element.record =
                ServiceRunRecord::fromJson(parseElement(text).root(), ServiceRunRecord::OutputReading::leaveInFile);
            element.hash = contentHash(text);
        } catch (const json::DecodeError &) {
        } catch (const std::bad_alloc &) {}
        return element;
    };
    // Each record decodes on its own, so a large file's go on several cores.
    QList<Element> elements;
    if (bytes.size() >= parallelIndexSize) {
        elements = QtConcurrent::blockingMapped<QList<Element>>(*spans, decode);
    } else {
        elements.reserve(spans->size());
        for (const ElementSpan &span : *spans)
            elements.append(decode(span));
    }

    Indexed indexed {{}, {bytes.size(), {}}};
    indexed.records.reserve(elements.size());
    indexed.layout.records.reserve(elements.size());
    for (qsizetype position = 0; position < elements.size(); ++position) {
        Element &element = elements[position];
        if (!element.record)
            return std::nullopt;
        const ElementSpan &span = spans->at(position);
        StoredRecord stored {element.record->id,
                             element.record->serviceId,
                             span.offset,
                             span.length,
                             element.hash,
                             element.record->environmentProfileId,
                             element.record->environmentProfileName,
                             holdsClearSecret(element.record->environment)};
        indexed.layout.records.append(std::move(stored));
        indexed.records.append(std::move(*element.record));
    }
    return indexed;
}

std::optional<QString> ServiceRunHistoryRepository::readIndexedOutput(const QUuid &recordId)
{
    JsonFile &file = m_store.file();
    std::lock_guard lock(file.mutex());
    if (!m_layout)
        return std::nullopt;
    const auto found = std::find_if(m_layout->records.cbegin(), m_layout->records.cend(),
                                    [&recordId](const StoredRecord &record) { return record.id == recordId; });
    if (found == m_layout->records.cend())
        return std::nullopt;
    const std::optional<QByteArray> text = file.readRangeLocked(found->offset, found->length);
    // The record's own bytes, unchanged, decode to the output they held.
    if (!text || text->size() != found->length || contentHash(*text) != found->hash)
        return std::nullopt;
    try {
        const json::ParsedDocument parsed = parseElement(*text);
        return json::ObjectReader(parsed.root(), "ServiceRunRecord").optionalString("output").value_or(QString());
    } catch (const json::DecodeError &) {
        return std::nullopt;
    }
}

QFuture<void> ServiceRunHistoryRepository::deleteRecord(const QUuid &recordId, QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, recordId, unwritten = std::move(unwritten)] {
        const QSet<QUuid> replaced = idsOf(unwritten);
        const auto keep = [&](const StoredRecord &record) {
            return record.id != recordId && !replaced.contains(record.id) ? StoredAction::keep : StoredAction::drop;
        };
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
        const auto keep = [&](const StoredRecord &record) {
            return record.serviceId != serviceId && !replaced.contains(record.id) ? StoredAction::keep
                                                                                  : StoredAction::drop;
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
        QList<ServiceRunRecord> front = unwritten;
        maskRunsOfProfiles(front, profileIDs, profileNames);
        const QSet<QUuid> replaced = idsOf(unwritten);
        const auto plan = [&](const StoredRecord &record) {
            if (replaced.contains(record.id))
                return StoredAction::drop;
            return runUsesProfile(record.profileId, record.profileName, profileIDs, profileNames) ? StoredAction::mask
                                                                                                  : StoredAction::keep;
        };
        if (rewriteStored(front, plan, unwritten.isEmpty()))
            return;
        QList<ServiceRunRecord> records = loadWithFront(unwritten, unwritten);
        if (maskRunsOfProfiles(records, profileIDs, profileNames) || !unwritten.isEmpty())
            writeRecords(std::move(records));
    });
}

// Puts a list out through a write, record by record, noting where each lands.
class ServiceRunHistoryRepository::LayoutBuilder {
public:
    LayoutBuilder(const JsonFile::WriteSink &put, Layout &layout)
        : m_put(put),
          m_layout(layout)
    {}

    // The separator before the record, which then starts at the layout's size.
    void startRecord(StoredRecord record)
    {
        write(m_layout.records.isEmpty() ? "[\n  " : ",\n  ");
        record.offset = m_layout.size;
        record.length = 0;
        record.clearSecrets = false;
        m_layout.records.append(record);
    }
    void recordBytes(QByteArrayView bytes)
    {
        write(bytes);
        m_layout.records.last().length += bytes.size();
    }
    void record(const StoredRecord &record, QByteArrayView text)
    {
        startRecord(record);
        recordBytes(text);
    }
    // The same bytes the file store's pretty encoder writes for the whole list.
    void finish() { write(m_layout.records.isEmpty() ? "[]" : "\n]"); }

private:
    void write(QByteArrayView bytes)
    {
        m_put(bytes);
        m_layout.size += bytes.size();
    }

    const JsonFile::WriteSink &m_put;
    Layout &m_layout;
};

// Follows the file as it is read through, front to back, against the layout
// it should have: only white space and the list's marks between records, and
// each record's hash. Each record goes on to the builder as the plan says: its
// text as it is, or (to be masked, or holding a secret in clear) decoded,
// masked and encoded again. Throws StoredTextChanged at the first byte that
// differs.
class ServiceRunHistoryRepository::StoredCopy {
public:
    StoredCopy(const ServiceRunHistoryRepository &repository, const Layout &stored, const Plan &plan,
               LayoutBuilder &out)
        : m_repository(repository),
          m_stored(stored),
          m_plan(plan),
          m_out(out),
          m_hash(repository.m_hashSeed)
    {}

    void consume(QByteArrayView piece)
    {
        while (true) {
            const qsizetype end = m_inRecord ? record().offset + record().length : gapEnd();
            if (m_position == end && !m_done) {
                m_inRecord ? endRecord() : endGap();
                continue;
            }
            if (piece.isEmpty())
                return;
            if (m_done)
                throw StoredTextChanged(); // the file goes on
            const QByteArrayView chunk = piece.first(std::min(piece.size(), end - m_position));
            m_inRecord ? recordBytes(chunk) : gapBytes(chunk);
            m_position += chunk.size();
            piece = piece.sliced(chunk.size());
        }
    }
    void finish() const
    {
        if (!m_done)
            throw StoredTextChanged(); // the file ends early
    }
    // Whether a record written again came out differently.
    bool masked() const { return m_masked; }

private:
    const StoredRecord &record() const { return m_stored.records.at(m_next); }
    bool atLastGap() const { return m_next == m_stored.records.size(); }
    qsizetype gapEnd() const { return atLastGap() ? m_stored.size : record().offset; }

    void gapBytes(QByteArrayView bytes)
    {
        for (const char character : bytes) {
            if (character == ' ' || character == '\n' || character == '\r' || character == '\t')
                continue;
            m_marks.append(character);
            if (m_marks.size() > 2)
                throw StoredTextChanged();
        }
    }
    void endGap()
    {
        const QByteArrayView expected =
            atLastGap() ? (m_stored.records.isEmpty() ? "[]" : "]") : (m_next == 0 ? "[" : ",");
        if (m_marks != expected)
            throw StoredTextChanged();
        m_marks.clear();
        if (atLastGap()) {
            m_done = true;
            return;
        }
        m_inRecord = true;
        // Asked once per record: a plan may count what it keeps.
        m_planned = m_plan(record());
        m_action = m_planned == StoredAction::keep && record().clearSecrets ? StoredAction::mask : m_planned;
        m_hash = ContentHash(m_repository.m_hashSeed);
        m_text.clear();
        if (m_action == StoredAction::keep)
            m_out.startRecord(record());
    }
    void recordBytes(QByteArrayView bytes)
    {
        m_hash.add(bytes);
        if (m_action == StoredAction::keep)
            m_out.recordBytes(bytes);
        else if (m_action == StoredAction::mask)
            m_text.append(bytes);
    }
    void endRecord()
    {
        if (m_hash.result() != record().hash)
            throw StoredTextChanged();
        if (m_action == StoredAction::mask)
            writeMasked();
        m_inRecord = false;
        ++m_next;
    }
    void writeMasked()
    {
        ServiceRunRecord run;
        try {
            run = ServiceRunRecord::fromJson(parseElement(m_text).root());
        } catch (const json::DecodeError &) {
            throw StoredTextChanged(); // it decoded when it was read
        }
        const bool secretsMasked = holdsClearSecret(run.environment);
        maskSecrets(run);
        const bool profileMasked = m_planned == StoredAction::mask && maskEveryEntry(run.environment);
        if (!secretsMasked && !profileMasked) {
            m_out.record(record(), m_text);
            return;
        }
        m_masked = true;
        const QByteArray text = arrayElementText(run);
        m_out.record(m_repository.storedRecord(run, text), text);
    }

    const ServiceRunHistoryRepository &m_repository;
    const Layout &m_stored;
    const Plan &m_plan;
    LayoutBuilder &m_out;
    ContentHash m_hash;
    qsizetype m_position = 0;
    qsizetype m_next = 0; // the record at or after the position
    bool m_inRecord = false;
    bool m_done = false;
    bool m_masked = false;
    StoredAction m_planned = StoredAction::keep;
    StoredAction m_action = StoredAction::keep; // what is done: a clear secret is masked even where kept
    QByteArray m_marks;
    QByteArray m_text; // of a record to write again
};

void ServiceRunHistoryRepository::writeRecords(QList<ServiceRunRecord> records)
{
    JsonFile &file = m_store.file();
    std::lock_guard lock(file.mutex());
    m_layout.reset();
    m_store.confirmReadableLocked();
    Layout written;
    file.writeLocked([&](const JsonFile::WriteSink &put) {
        LayoutBuilder out(put, written);
        for (ServiceRunRecord &record : records) {
            // Every record's secrets, not only a new one's: a clear value in a
            // hand-edited file must not be written back.
            maskSecrets(record);
            const QByteArray text = arrayElementText(record);
            out.record(storedRecord(record, text), text);
            record.output.clear(); // written; free it early
        }
        out.finish();
    });
    m_layout = std::move(written);
}

bool ServiceRunHistoryRepository::rewriteStored(const QList<ServiceRunRecord> &front, const Plan &plan,
                                                bool onlyIfMasked)
{
    // Nothing to write: the rewrite stops, leaving the file as it is.
    struct Unchanged {};

    JsonFile &file = m_store.file();
    std::lock_guard lock(file.mutex());
    if (!m_layout)
        return false;
    // Until this write succeeds, what the file holds is not known.
    const Layout stored = *std::exchange(m_layout, std::nullopt);
    m_store.confirmReadableLocked();
    Layout written;
    try {
        file.writeLocked([&](const JsonFile::WriteSink &put) {
            LayoutBuilder out(put, written);
            for (ServiceRunRecord record : front) {
                maskSecrets(record);
                const QByteArray text = arrayElementText(record);
                out.record(storedRecord(record, text), text);
            }
            // The file is read through once, never held whole. Offsets fit only
            // the very bytes read or written: neither a path check nor the
            // timestamps (coarse on many file systems) can tell an edit of the
            // same size apart, the contents can.
            StoredCopy copy(*this, stored, plan, out);
            if (!file.readPiecesLocked([&copy](QByteArrayView piece) { copy.consume(piece); }))
                throw StoredTextChanged();
            copy.finish();
            if (onlyIfMasked && !copy.masked())
                throw Unchanged();
            out.finish();
        });
    } catch (const StoredTextChanged &) {
        return false;
    } catch (const Unchanged &) {
        m_layout = stored;
        return true;
    }
    m_layout = std::move(written);
    return true;
}

ServiceRunHistoryRepository::StoredRecord ServiceRunHistoryRepository::storedRecord(const ServiceRunRecord &record,
                                                                                    QByteArrayView text) const
{
    return {record.id,
            record.serviceId,
            0,
            0,
            contentHash(text),
            record.environmentProfileId,
            record.environmentProfileName,
            holdsClearSecret(record.environment)};
}

size_t ServiceRunHistoryRepository::contentHash(QByteArrayView bytes) const
{
    return ContentHash::of(bytes, m_hashSeed);
}
