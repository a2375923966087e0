#include "records/ServiceRunHistoryRepository.h"

#include "platform/Logging.h"
#include "records/FileStoreError.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

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

json::ParsedDocument parseElement(QByteArrayView text)
{
    QByteArray copy;
    copy.reserve(text.size() + 16);
    copy.append(text);
    return json::parse(std::move(copy));
}

// Masks every environment value of a stored run, read only as JSON, that
// used one of the profiles: it need not decode as a run.
void maskElementOfProfiles(json::Document &element, const QSet<QUuid> &profileIDs, const QSet<QString> &profileNames)
{
    if (!element.IsObject())
        return;
    const json::Document &stored = element;
    const auto text = [&stored](const char *key) -> std::optional<QString> {
        const auto member = stored.FindMember(key);
        if (member == stored.MemberEnd() || !member->value.IsString())
            return std::nullopt;
        return QString::fromUtf8(member->value.GetString(), member->value.GetStringLength());
    };
    std::optional<QUuid> profileId;
    if (const std::optional<QString> id = text("environmentProfileId"))
        profileId = json::parseUuid(*id);
    if (!runUsesProfile(profileId, text("environmentProfileName"), profileIDs, profileNames))
        return;
    if (!stored.HasMember("environment") || !stored["environment"].IsArray())
        return;
    const QByteArray mask = ServiceRunEnvironmentEntry::secretMask.toUtf8();
    json::Allocator &allocator = element.GetAllocator();
    for (json::Value &entry : element["environment"].GetArray()) {
        if (!entry.IsObject())
            continue;
        entry.RemoveMember("value");
        entry.RemoveMember("isSecret");
        entry.AddMember("value",
                        json::Value(mask.constData(), static_cast<rapidjson::SizeType>(mask.size()), allocator),
                        allocator);
        entry.AddMember("isSecret", true, allocator);
    }
}

// The copy of a damaged history that is kept aside: every element that parses
// as JSON, the runs of the profiles masked; the rest left out (and logged).
QByteArray maskedAsideCopy(const QByteArray &bytes, const QSet<QUuid> &profileIDs, const QSet<QString> &profileNames,
                           const QString &fileName)
{
    qsizetype leftOut = 0;
    qsizetype kept = 0;
    QByteArray copy;
    for (const json::TextSpan &span : RecordListFile::wholeElementSpans(bytes, leftOut)) {
        try {
            json::ParsedDocument parsed = parseElement(QByteArrayView(bytes).sliced(span.offset, span.length));
            maskElementOfProfiles(parsed.document, profileIDs, profileNames);
            copy.append(json::prettyList::before(kept++));
            copy.append(json::serializePrettyElement(parsed.document));
        } catch (const json::DecodeError &) {
            leftOut += span.length;
        }
    }
    copy.append(json::prettyList::after(kept));
    if (leftOut > 0)
        qCCritical(lcPersistence, "Left %lld bytes that are no JSON out of the copy of %s kept aside",
                   static_cast<long long>(leftOut), qUtf8Printable(fileName));
    return copy;
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

void sortRunRecordsNewestFirst(QList<ServiceRunRecord> &records)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const ServiceRunRecord &a, const ServiceRunRecord &b) { return a.startedAt > b.startedAt; });
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
      m_list(m_store.file()),
      m_keptAside(path)
{}

QFuture<void> ServiceRunHistoryRepository::append(const ServiceRunRecord &record, QList<ServiceRunRecord> unwritten)
{
    return appendAll({record}, std::move(unwritten));
}

QFuture<void> ServiceRunHistoryRepository::appendAll(QList<ServiceRunRecord> newestFirst,
                                                     QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, newestFirst = std::move(newestFirst), unwritten = std::move(unwritten)] {
        try {
            writeFoldingKeptAside(unwritten,
                                  [&](const QList<ServiceRunRecord> &pending) { appendInFile(newestFirst, pending); });
        } catch (const FileStoreError &) {
            // Earlier runs too, when they found no room in the side file before.
            const QSet<QUuid> kept = idsOf(keptAsideRuns());
            QList<ServiceRunRecord> runs = newestFirst + unwritten;
            runs.removeIf([&kept](const ServiceRunRecord &run) { return kept.contains(run.id); });
            keepAside(runs);
            throw;
        }
    });
}

void ServiceRunHistoryRepository::appendInFile(const QList<ServiceRunRecord> &newestFirst,
                                               const QList<ServiceRunRecord> &unwritten)
{
    // Many runs of one service finished at once, or kept aside, may exceed its
    // limit by themselves: the newest are kept, as in the history.
    QList<ServiceRunRecord> pending = newestFirst + unwritten;
    sortRunRecordsNewestFirst(pending);
    const QList<ServiceRunRecord> front = limitRunHistoryPerService(std::move(pending));
    QHash<QUuid, qsizetype> counts;
    for (const ServiceRunRecord &run : front)
        ++counts[run.serviceId];
    const QSet<QUuid> replaced = idsOf(unwritten);
    const auto withinLimit = [&counts, &replaced](const StoredRun &record) {
        return !replaced.contains(record.id) && ++counts[record.serviceId] <= maximumRecordsPerService
                   ? StoredAction::keep
                   : StoredAction::drop;
    };
    if (rewriteStored(front, withinLimit))
        return;
    writeRecords(limitRunHistoryPerService(loadWithFront(front, unwritten)));
}

QFuture<QSet<QUuid>> ServiceRunHistoryRepository::keptAsideIds()
{
    return m_executor.run([this] { return idsOf(keptAsideRuns()); });
}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::load()
{
    return m_executor.run([this] { return m_store.load({}); });
}

QFuture<QList<ServiceRunRecord>> ServiceRunHistoryRepository::loadChecked()
{
    return m_executor.run([this] { return loadFoldingKeptAside(); });
}

QFuture<void> ServiceRunHistoryRepository::setProtectedProfiles(QSet<QUuid> profileIDs, QSet<QString> profileNames)
{
    return m_executor.run([this, profileIDs = std::move(profileIDs), profileNames = std::move(profileNames)] {
        m_protected = {profileIDs, profileNames};
    });
}

void ServiceRunHistoryRepository::maskProtected(QList<ServiceRunRecord> &runs) const
{
    maskRunsOfProfiles(runs, m_protected.profileIDs, m_protected.profileNames);
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
            QStringLiteral("The output of this run is no longer in the file “%1”.").arg(m_list.file().fileName()));
    });
}

QList<ServiceRunRecord> ServiceRunHistoryRepository::loadIndexed()
{
    {
        JsonFile &file = m_list.file();
        std::lock_guard lock(file.mutex());
        m_list.forgetLayout();
        m_runs.clear();
        std::optional<QByteArray> bytes = file.readLocked();
        if (!bytes) {
            m_foundDamage = false;
            return {};
        }
        const auto decode = [](QByteArrayView text) -> std::optional<ServiceRunRecord> {
            try {
                return ServiceRunRecord::fromJson(parseElement(text).root(),
                                                  ServiceRunRecord::OutputReading::leaveInFile);
            } catch (const json::DecodeError &) {
            } catch (const std::bad_alloc &) {}
            return std::nullopt;
        };
        if (std::optional<QList<ServiceRunRecord>> records = m_list.indexLocked<ServiceRunRecord>(*bytes, decode)) {
            file.markReadable();
            m_foundDamage = false;
            m_runs.reserve(records->size());
            for (const ServiceRunRecord &record : std::as_const(*records))
                m_runs.append(storedRun(record));
            return std::move(*records);
        }
    }
    // Not a list of records: the full decode tells what is wrong and has the file set aside.
    QList<ServiceRunRecord> records = m_store.loadForUpdate({});
    m_foundDamage = m_list.file().isMarkedUnreadable();
    return records;
}

std::optional<QString> ServiceRunHistoryRepository::readIndexedOutput(const QUuid &recordId)
{
    JsonFile &file = m_list.file();
    std::lock_guard lock(file.mutex());
    const auto found =
        std::find_if(m_runs.cbegin(), m_runs.cend(), [&recordId](const StoredRun &run) { return run.id == recordId; });
    if (found == m_runs.cend())
        return std::nullopt;
    const std::optional<QByteArray> text = m_list.readElementLocked(found - m_runs.cbegin());
    if (!text)
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
        removeRuns([&recordId](const ServiceRunRecord &run) { return run.id == recordId; },
                   [&recordId](const StoredRun &run) { return run.id == recordId; }, unwritten);
    });
}

QFuture<void> ServiceRunHistoryRepository::clear(const QUuid &serviceId, QList<ServiceRunRecord> unwritten)
{
    return m_executor.run([this, serviceId, unwritten = std::move(unwritten)] {
        removeRuns([&serviceId](const ServiceRunRecord &run) { return run.serviceId == serviceId; },
                   [&serviceId](const StoredRun &run) { return run.serviceId == serviceId; }, unwritten);
    });
}

void ServiceRunHistoryRepository::removeRuns(const RunFilter &removed,
                                             const std::function<bool(const StoredRun &)> &dropStored,
                                             const QList<ServiceRunRecord> &unwritten)
{
    const std::optional<FileStoreError> editFailed =
        editKeptAside([&removed](QList<ServiceRunRecord> &runs) { return runs.removeIf(removed) > 0; });
    const bool keptAsideGone = writeFoldingKeptAside(
        unwritten,
        [&](const QList<ServiceRunRecord> &pending) {
            const QSet<QUuid> replaced = idsOf(pending);
            const auto keep = [&](const StoredRun &record) {
                return dropStored(record) || replaced.contains(record.id) ? StoredAction::drop : StoredAction::keep;
            };
            if (rewriteStored(pending, keep))
                return;
            QList<ServiceRunRecord> records = loadWithFront(pending, pending);
            records.removeIf(removed);
            writeRecords(std::move(records));
        },
        removed);
    requireNoneKeptAside(editFailed, keptAsideGone, removed);
}

void ServiceRunHistoryRepository::requireNoneKeptAside(const std::optional<FileStoreError> &editFailed,
                                                       bool keptAsideGone, const RunFilter &unwanted)
{
    if (!editFailed || keptAsideGone)
        return;
    // The side file kept what it held: success only when that is none of the
    // unwanted runs, since the next write or the next start would fold them in,
    // and when the folder holds it so (an unsynced removal or rewrite could
    // bring the runs back after a power loss).
    try {
        const QList<ServiceRunRecord> keptAside = m_keptAside.runs();
        if (std::none_of(keptAside.cbegin(), keptAside.cend(), unwanted)
            && JsonFile::syncFolder(QFileInfo(m_keptAside.path()).absolutePath()) == 0)
            return;
    } catch (const FileStoreError &) {}
    throw *editFailed;
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
        const std::optional<FileStoreError> editFailed = editKeptAside(
            [&](QList<ServiceRunRecord> &runs) { return maskRunsOfProfiles(runs, profileIDs, profileNames); });
        const bool keptAsideGone = writeFoldingKeptAside(unwritten, [&](const QList<ServiceRunRecord> &pending) {
            QList<ServiceRunRecord> front = pending;
            maskRunsOfProfiles(front, profileIDs, profileNames);
            const QSet<QUuid> replaced = idsOf(pending);
            const auto plan = [&](const StoredRun &record) {
                if (replaced.contains(record.id))
                    return StoredAction::drop;
                return runUsesProfile(record.profileId, record.profileName, profileIDs, profileNames)
                           ? StoredAction::mask
                           : StoredAction::keep;
            };
            if (rewriteStored(front, plan, pending.isEmpty()))
                return;
            QList<ServiceRunRecord> records = loadWithFront(pending, pending);
            if (m_list.file().isMarkedUnreadable()) {
                // The damaged file is kept aside by the next write: masked, never in clear.
                m_maskedAside.profileIDs.unite(profileIDs);
                m_maskedAside.profileNames.unite(profileNames);
                m_list.file().setAsideCopyFilter(
                    [masked = m_maskedAside, name = m_list.file().fileName()](const QByteArray &bytes) {
                        return maskedAsideCopy(bytes, masked.profileIDs, masked.profileNames, name);
                    });
                if (pending.isEmpty())
                    throw FileStoreError(
                        QStringLiteral("The file “%1” couldn’t be redacted because its content is damaged.")
                            .arg(m_list.file().fileName()));
            }
            if (maskRunsOfProfiles(records, profileIDs, profileNames) || !pending.isEmpty())
                writeRecords(std::move(records));
        });
        requireNoneKeptAside(editFailed, keptAsideGone, [&](const ServiceRunRecord &run) {
            QList<ServiceRunRecord> unmasked = {run};
            return maskRunsOfProfiles(unmasked, profileIDs, profileNames);
        });
    });
}

void ServiceRunHistoryRepository::writeRecords(QList<ServiceRunRecord> records)
{
    JsonFile &file = m_list.file();
    std::lock_guard lock(file.mutex());
    m_list.forgetLayout();
    m_runs.clear();
    m_store.confirmReadableLocked();
    QList<StoredRun> runs;
    runs.reserve(records.size());
    m_list.writeWholeLocked([&](const RecordListFile::ElementSink &put) {
        for (ServiceRunRecord &record : records) {
            // Every record's secrets, not only a new one's: a clear value in a
            // hand-edited file must not be written back.
            maskSecrets(record);
            put(encodePrettyJsonElement(record));
            runs.append(storedRun(record));
            record.output.clear(); // written; free it early
        }
    });
    m_runs = std::move(runs);
}

bool ServiceRunHistoryRepository::rewriteStored(const QList<ServiceRunRecord> &front, const Plan &plan,
                                                bool onlyIfMasked)
{
    using Piece = RecordListFile::Piece;
    JsonFile &file = m_list.file();
    std::lock_guard lock(file.mutex());
    if (!m_list.layout())
        return false;
    m_store.confirmReadableLocked();
    QList<Piece> pieces;
    QList<StoredRun> runs;
    for (const ServiceRunRecord &record : front) {
        pieces.append(Piece::record([&record] {
            ServiceRunRecord masked = record;
            maskSecrets(masked);
            return encodePrettyJsonElement(masked);
        }));
        runs.append(storedRun(record));
    }
    for (qsizetype index = 0; index < m_runs.size(); ++index) {
        // Asked once per record, in order: a plan may count what it keeps.
        const StoredAction action = plan(m_runs.at(index));
        if (action == StoredAction::drop)
            continue;
        // A clear secret in a hand-edited file is masked even where the record is kept.
        if (action == StoredAction::mask || m_runs.at(index).clearSecrets)
            pieces.append({index, maskedText(action == StoredAction::mask), {}});
        else
            pieces.append(Piece::keep(index));
        runs.append(m_runs.at(index));
        runs.last().clearSecrets = false;
    }
    switch (m_list.writePlanLocked(pieces, onlyIfMasked)) {
    case RecordListFile::PlanResult::storedChanged:
        m_runs.clear();
        return false;
    case RecordListFile::PlanResult::unchanged:
        return true;
    case RecordListFile::PlanResult::written:
        break;
    }
    m_runs = std::move(runs);
    return true;
}

std::function<std::optional<QByteArray>(QByteArrayView)> ServiceRunHistoryRepository::maskedText(bool everyEntry)
{
    return [everyEntry](QByteArrayView stored) -> std::optional<QByteArray> {
        ServiceRunRecord run = ServiceRunRecord::fromJson(parseElement(stored).root());
        const bool secretsMasked = holdsClearSecret(run.environment);
        maskSecrets(run);
        const bool profileMasked = everyEntry && maskEveryEntry(run.environment);
        if (!secretsMasked && !profileMasked)
            return std::nullopt;
        return encodePrettyJsonElement(run);
    };
}

ServiceRunHistoryRepository::StoredRun ServiceRunHistoryRepository::storedRun(const ServiceRunRecord &record)
{
    return {record.id, record.serviceId, record.environmentProfileId, record.environmentProfileName,
            holdsClearSecret(record.environment)};
}

std::optional<QList<ServiceRunRecord>> ServiceRunHistoryRepository::readKeptAside()
{
    try {
        return m_keptAside.runs();
    } catch (const FileStoreError &error) {
        qCCritical(lcPersistence, "Failed to read the runs kept aside: %s", qUtf8Printable(error.message()));
        return std::nullopt;
    }
}

QList<ServiceRunRecord> ServiceRunHistoryRepository::keptAsideRuns()
{
    return readKeptAside().value_or(QList<ServiceRunRecord>());
}

void ServiceRunHistoryRepository::keepAside(const QList<ServiceRunRecord> &runs)
{
    try {
        m_keptAside.append(runs);
    } catch (const FileStoreError &error) {
        qCCritical(lcPersistence, "Failed to keep unsaved runs aside: %s", qUtf8Printable(error.message()));
    }
}

std::optional<FileStoreError>
ServiceRunHistoryRepository::editKeptAside(const std::function<bool(QList<ServiceRunRecord> &)> &edit)
{
    // Done first, on its own: when the history write fails, a run cleared or
    // masked here must not come back from the side file.
    try {
        m_keptAside.edit(edit);
    } catch (const FileStoreError &error) {
        qCCritical(lcPersistence, "Failed to update the runs kept aside: %s", qUtf8Printable(error.message()));
        return error;
    }
    return std::nullopt;
}

bool ServiceRunHistoryRepository::writeFoldingKeptAside(
    const QList<ServiceRunRecord> &unwritten, const std::function<void(const QList<ServiceRunRecord> &)> &write,
    const RunFilter &removed)
{
    const std::optional<QList<ServiceRunRecord>> keptAside = readKeptAside();
    QList<ServiceRunRecord> pending = unwritten;
    const QSet<QUuid> ids = idsOf(unwritten);
    for (const ServiceRunRecord &run : keptAside.value_or(QList<ServiceRunRecord>())) {
        if (!ids.contains(run.id))
            pending.append(run);
    }
    if (removed)
        pending.removeIf(removed);
    // A run kept from before its profile was protected may hold its values in
    // clear; a redaction that failed, or has yet to run, left them so.
    maskProtected(pending);
    write(pending);
    if (!keptAside)
        return false;
    return keptAside->isEmpty() || m_keptAside.remove();
}

QList<ServiceRunRecord> ServiceRunHistoryRepository::loadFoldingKeptAside()
{
    QList<ServiceRunRecord> stored = loadIndexed();
    const std::optional<QList<ServiceRunRecord>> read = readKeptAside();
    m_missedKeptAside = !read;
    QList<ServiceRunRecord> keptAside = read.value_or(QList<ServiceRunRecord>());
    if (keptAside.isEmpty())
        return stored;
    const QSet<QUuid> ids = idsOf(keptAside);
    stored.removeIf([&ids](const ServiceRunRecord &run) { return ids.contains(run.id); });
    sortRunRecordsNewestFirst(keptAside);
    QList<ServiceRunRecord> folded = keptAside;
    maskProtected(folded);
    try {
        appendInFile({}, folded);
        m_keptAside.remove();
        for (ServiceRunRecord &run : folded)
            run.output = ServiceRunOutput::inFile(run.output.isEmpty());
        return limitRunHistoryPerService(folded + stored);
    } catch (const FileStoreError &error) {
        // Listed all the same, as the side file still holds them (a redaction
        // masks them there); every later write tries again.
        qCCritical(lcPersistence, "Failed to save the runs kept aside: %s", qUtf8Printable(error.message()));
        return keptAside + stored;
    }
}
