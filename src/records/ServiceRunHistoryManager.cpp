#include "records/ServiceRunHistoryManager.h"

#include "platform/Logging.h"
#include "records/FileStoreError.h"
#include "records/Json.h"
#include "records/UserPerceivedText.h"

#include <QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QPromise>

#include <algorithm>
#include <memory>

namespace {

QString reasonOf(const std::exception &error)
{
    const auto *fileError = dynamic_cast<const FileStoreError *>(&error);
    return fileError ? fileError->message() : QString::fromLocal8Bit(error.what());
}

// One link of the write chain: waits for the link before it, runs its write, and
// lets the next one go, whatever the write's outcome.
QCoro::Task<> runChainedWrite(QPointer<ServiceRunHistoryManager> manager, QFuture<void> previous,
                              ServiceRunHistoryManager::WriteOperation operation, std::shared_ptr<QPromise<void>> done)
{
    if (previous.isValid() && !previous.isFinished())
        co_await previous;
    if (manager) {
        try {
            co_await operation();
        } catch (...) {
            // Every write reports its own failure; the chain itself must go on.
        }
    }
    done->finish();
}

QCoro::Task<> waitUntilReleased(QFuture<void> released)
{
    co_await released;
}

} // namespace

ServiceRunHistoryManager::ServiceRunHistoryManager(ServiceRunHistoryRepository &repository, QObject *parent)
    : QObject(parent),
      m_repository(repository)
{}

QList<ServiceRunRecord> ServiceRunHistoryManager::records(const QUuid &serviceId) const
{
    QList<ServiceRunRecord> result;
    for (const ServiceRunRecord &record : m_records) {
        if (record.serviceId == serviceId)
            result.append(record);
    }
    return result;
}

QCoro::Task<QString> ServiceRunHistoryManager::runOutput(QUuid recordId)
{
    for (const QList<ServiceRunRecord> *records : {&m_records, &m_unwritten}) {
        for (const ServiceRunRecord &record : *records) {
            if (record.id == recordId && record.output.isHeld())
                co_return record.output.text();
        }
    }
    co_return co_await m_repository.readOutput(recordId);
}

std::optional<ActiveRunDraft> ServiceRunHistoryManager::activeDraft(const QUuid &serviceId) const
{
    const auto found = m_activeDrafts.constFind(serviceId);
    if (found == m_activeDrafts.constEnd())
        return std::nullopt;
    return *found;
}

void ServiceRunHistoryManager::setActiveDraft(ActiveRunDraft draft)
{
    redactSecretEnvironmentEntriesInPlace(draft.environment);
    const QUuid serviceId = draft.serviceId;
    m_activeDrafts.emplace(serviceId, std::move(draft));
}

std::optional<ActiveRunDraft> ServiceRunHistoryManager::takeActiveDraft(const QUuid &serviceId)
{
    const auto found = m_activeDrafts.find(serviceId);
    if (found == m_activeDrafts.end())
        return std::nullopt;
    ActiveRunDraft draft = std::move(*found);
    m_activeDrafts.erase(found);
    return draft;
}

void ServiceRunHistoryManager::finishRun(const QUuid &serviceId, ServiceRunStopReason stopReason,
                                         std::optional<qint32> exitCode, const QString &output)
{
    std::optional<ActiveRunDraft> draft = takeActiveDraft(serviceId);
    if (!draft)
        return;
    const int epoch = clearEpoch(serviceId);
    ServiceRunRecord record =
        draft->record(QDateTime::currentDateTimeUtc(), stopReason, exitCode,
                      UserPerceivedText::lastCharacters(output, ServiceRunRecord::maximumOutputCharacters));
    redactSecretEnvironmentEntriesInPlace(record.environment);
    insertRecord(record);
    enqueueAppend(serviceId, epoch, std::move(record), RunKind::finishedRun);
}

void ServiceRunHistoryManager::updatePeakUsage(const QUuid &serviceId, double cpuPercent, quint64 memoryBytes)
{
    const auto found = m_activeDrafts.find(serviceId);
    if (found == m_activeDrafts.end())
        return;
    if (cpuPercent > found->peakCpuPercent)
        found->peakCpuPercent = cpuPercent;
    if (memoryBytes > found->peakMemoryBytes)
        found->peakMemoryBytes = memoryBytes;
}

void ServiceRunHistoryManager::updatePid(const QUuid &serviceId, qint32 pid)
{
    const auto found = m_activeDrafts.find(serviceId);
    if (found != m_activeDrafts.end())
        found->pid = pid;
}

void ServiceRunHistoryManager::insertRecord(const ServiceRunRecord &record)
{
    QList<ServiceRunRecord> updated;
    updated.reserve(m_records.size() + 1);
    updated.append(record);
    redactSecretEnvironmentEntriesInPlace(updated.first().environment);
    for (const ServiceRunRecord &existing : std::as_const(m_records)) {
        if (existing.id != record.id)
            updated.append(existing);
    }
    updated = limitRunHistoryPerService(std::move(updated));
    sortRunRecordsNewestFirst(updated);
    publishRecords(std::move(updated));
    if (m_latestAddedRecordID != record.id) {
        m_latestAddedRecordID = record.id;
        Q_EMIT latestAddedRecordIDChanged();
    }
}

void ServiceRunHistoryManager::enqueueWrite(WriteOperation operation)
{
    // Appends queued after this write must not go to the file before it.
    m_openBatch.reset();
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    QFuture<void> previous = m_writeQueue;
    m_writeQueue = done->future();
    m_writeQueue.then(this, [this] { ++m_finishedWrites; });
    ++m_historyChanges;
    runChainedWrite(QPointer(this), std::move(previous), std::move(operation), std::move(done));
}

void ServiceRunHistoryManager::enqueueAppend(QUuid serviceId, int epoch, ServiceRunRecord record, RunKind kind)
{
    if (m_openBatch) {
        m_openBatch->appends.append({serviceId, epoch, kind, std::move(record)});
        ++m_historyChanges;
        return;
    }
    auto batch = std::make_shared<AppendBatch>();
    batch->appends.append({serviceId, epoch, kind, std::move(record)});
    enqueueWrite([this, batch] { return persistBatch(batch); });
    // With no write in progress, the batch has gone to the file already.
    if (!batch->started)
        m_openBatch = std::move(batch);
}

QCoro::Task<> ServiceRunHistoryManager::persistBatch(const std::shared_ptr<AppendBatch> &batch)
{
    batch->started = true;
    if (m_openBatch == batch)
        m_openBatch.reset();
    return persist(std::exchange(batch->appends, {}));
}

std::shared_ptr<void> ServiceRunHistoryManager::holdWrites()
{
    auto gate = std::make_shared<QPromise<void>>();
    gate->start();
    enqueueWrite([released = gate->future()] { return waitUntilReleased(released); });
    return std::shared_ptr<void>(nullptr, [gate](void *) { gate->finish(); });
}

QCoro::Task<> ServiceRunHistoryManager::persistRun(QUuid serviceId, int epoch, ServiceRunRecord record)
{
    return persist({{serviceId, epoch, RunKind::finishedRun, std::move(record)}});
}

QCoro::Task<> ServiceRunHistoryManager::persistBlockedLaunch(QUuid serviceId, int epoch, ServiceRunRecord record)
{
    return persist({{serviceId, epoch, RunKind::blockedLaunch, std::move(record)}});
}

QCoro::Task<> ServiceRunHistoryManager::persist(QList<QueuedAppend> appends)
{
    // A run made before its service's history was cleared must not come back.
    appends.removeIf([this](const QueuedAppend &append) { return clearEpoch(append.serviceId) != append.epoch; });
    if (appends.isEmpty())
        co_return;
    QList<ServiceRunRecord> newestFirst;
    newestFirst.reserve(appends.size());
    for (auto append = appends.crbegin(); append != appends.crend(); ++append)
        newestFirst.append(append->record);
    const bool onlyBlockedLaunches = std::all_of(appends.cbegin(), appends.cend(), [](const QueuedAppend &append) {
        return append.kind == RunKind::blockedLaunch;
    });
    QPointer self(this);
    const QList<ServiceRunRecord> unwritten = m_unwritten;
    try {
        co_await m_repository.appendAll(newestFirst, unwritten);
        if (!self)
            co_return;
        noteWriteSucceeded(unwritten + newestFirst);
        retryPendingRedaction();
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        for (const QueuedAppend &append : std::as_const(appends))
            keepUnwritten(append.record);
        noteWriteFailed(onlyBlockedLaunches ? "Failed to save blocked launch history: %s"
                                            : "Failed to save run history: %s",
                        error);
    }
}

QCoro::Task<QList<ServiceRunRecord>> ServiceRunHistoryManager::runsSavedNowhere()
{
    QPointer self(this);
    const QSet<QUuid> keptAside = co_await m_repository.keptAsideIds();
    if (!self)
        co_return {};
    QList<ServiceRunRecord> lost = m_unwritten;
    lost.removeIf([&keptAside](const ServiceRunRecord &run) { return keptAside.contains(run.id); });
    co_return lost;
}

QCoro::Task<> ServiceRunHistoryManager::retryUnwrittenRuns()
{
    enqueueWrite([this] { return writeUnwritten(); });
    co_await waitForPendingWrites();
}

QCoro::Task<> ServiceRunHistoryManager::writeUnwritten()
{
    QPointer self(this);
    const QList<ServiceRunRecord> unwritten = m_unwritten;
    if (unwritten.isEmpty())
        co_return;
    try {
        co_await m_repository.appendAll({}, unwritten);
        if (self)
            noteWriteSucceeded(unwritten);
    } catch (const std::exception &error) {
        if (self)
            noteWriteFailed("Failed to save run history: %s", error);
    }
}

QCoro::Task<> ServiceRunHistoryManager::clearInFile(QUuid serviceId)
{
    QPointer self(this);
    const QList<ServiceRunRecord> unwritten = m_unwritten;
    try {
        co_await m_repository.clear(serviceId, unwritten);
        if (self)
            noteWriteSucceeded(unwritten);
    } catch (const std::exception &error) {
        if (self)
            noteRemovalFailed("Failed to clear run history: %s", error,
                              QStringLiteral("The run history couldn’t be cleared. The runs still saved are "
                                             "listed again."));
    }
}

QCoro::Task<> ServiceRunHistoryManager::deleteInFile(QUuid recordId)
{
    QPointer self(this);
    const QList<ServiceRunRecord> unwritten = m_unwritten;
    try {
        co_await m_repository.deleteRecord(recordId, unwritten);
        if (self)
            noteWriteSucceeded(unwritten);
    } catch (const std::exception &error) {
        if (self)
            noteRemovalFailed("Failed to delete run history entry: %s", error,
                              QStringLiteral("The run couldn’t be deleted from the run history. It is listed "
                                             "again while it is still saved."));
    }
}

QCoro::Task<> ServiceRunHistoryManager::redactInFile(QSet<QUuid> profileIDs, QSet<QString> profileNames)
{
    QPointer self(this);
    const QList<ServiceRunRecord> unwritten = m_unwritten;
    try {
        co_await m_repository.redactProfiles(profileIDs, profileNames, unwritten);
        if (!self)
            co_return;
        noteWriteSucceeded(unwritten);
        m_pendingRedaction.reset();
        noteRedactionSucceeded();
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        // The file may still hold the values in clear: the next write that
        // succeeds is followed by another try.
        rememberPendingRedaction(profileIDs, profileNames);
        noteRedactionFailed(error);
    }
}

void ServiceRunHistoryManager::rememberPendingRedaction(const QSet<QUuid> &profileIDs,
                                                        const QSet<QString> &profileNames)
{
    if (!m_pendingRedaction)
        m_pendingRedaction.emplace();
    m_pendingRedaction->profileIDs.unite(profileIDs);
    m_pendingRedaction->profileNames.unite(profileNames);
}

void ServiceRunHistoryManager::retryPendingRedaction()
{
    if (!m_pendingRedaction)
        return;
    const PendingRedaction pending = *std::exchange(m_pendingRedaction, std::nullopt);
    enqueueWrite([this, pending] { return redactInFile(pending.profileIDs, pending.profileNames); });
}

void ServiceRunHistoryManager::keepUnwritten(const ServiceRunRecord &record)
{
    m_unwritten.removeIf([&record](const ServiceRunRecord &kept) { return kept.id == record.id; });
    m_unwritten.prepend(record);
}

void ServiceRunHistoryManager::forgetWritten(const QList<ServiceRunRecord> &records)
{
    QSet<QUuid> written;
    for (const ServiceRunRecord &record : records)
        written.insert(record.id);
    m_unwritten.removeIf([&written](const ServiceRunRecord &kept) { return written.contains(kept.id); });
}

void ServiceRunHistoryManager::noteWriteSucceeded(const QList<ServiceRunRecord> &written)
{
    forgetWritten(written);
    releaseWrittenOutputs(written);
    m_writesFailing = false;
}

void ServiceRunHistoryManager::releaseWrittenOutputs(const QList<ServiceRunRecord> &written)
{
    QSet<QUuid> ids;
    for (const ServiceRunRecord &record : written) {
        if (!record.output.isEmpty())
            ids.insert(record.id);
    }
    if (ids.isEmpty())
        return;
    QList<ServiceRunRecord> released = m_records;
    for (ServiceRunRecord &record : released) {
        if (ids.contains(record.id) && record.output.isHeld())
            record.output = ServiceRunOutput::inFile(false);
    }
    publishRecords(std::move(released));
}

void ServiceRunHistoryManager::noteWriteFailed(const char *logFormat, const std::exception &error)
{
    qCCritical(lcGeneral, logFormat, error.what());
    if (m_writesFailing)
        return;
    m_writesFailing = true;
    Q_EMIT writeFailed(QStringLiteral("The run history couldn’t be saved. Finished runs stay listed and are saved "
                                      "with the next write that succeeds.\n\n%1")
                           .arg(reasonOf(error)));
}

void ServiceRunHistoryManager::noteRedactionFailed(const std::exception &error)
{
    qCCritical(lcGeneral, "Failed to redact protected profile history: %s", error.what());
    // Tried again after every write that succeeds: a failure that lasts is
    // told once, not after every run; a failing append before does not hide it.
    if (m_redactionsFailing)
        return;
    m_redactionsFailing = true;
    setUntoldRedactionFailure(QStringLiteral("Values of a protected profile may still be in the run history file. "
                                             "Velmora tries again after the next write.\n\n%1")
                                  .arg(reasonOf(error)));
}

void ServiceRunHistoryManager::noteRedactionSucceeded()
{
    m_redactionsFailing = false;
    setUntoldRedactionFailure(std::nullopt);
}

void ServiceRunHistoryManager::redactionFailureTold()
{
    setUntoldRedactionFailure(std::nullopt);
}

void ServiceRunHistoryManager::setUntoldRedactionFailure(const std::optional<QString> &message)
{
    if (m_untoldRedactionFailure == message)
        return;
    m_untoldRedactionFailure = message;
    Q_EMIT untoldRedactionFailureChanged();
}

void ServiceRunHistoryManager::noteRemovalFailed(const char *logFormat, const std::exception &error,
                                                 const QString &consequence)
{
    // Said every time: the person asked for it and sees the runs come back.
    // It says nothing of finished runs, so an append failing next still speaks.
    qCCritical(lcGeneral, logFormat, error.what());
    Q_EMIT writeFailed(consequence + QStringLiteral("\n\n") + reasonOf(error));
}

QCoro::Task<> ServiceRunHistoryManager::logUnwrittenRuns()
{
    // Runs kept in the side file are safe until the next start folds them in;
    // saying they were not saved would be false.
    const QList<ServiceRunRecord> lost = co_await runsSavedNowhere();
    for (const ServiceRunRecord &record : lost) {
        qCCritical(lcGeneral, "Run history entry not saved at quit: run %s of service %s, started %s, ended %s",
                   qUtf8Printable(json::formatUuid(record.id)), qUtf8Printable(json::formatUuid(record.serviceId)),
                   qUtf8Printable(json::formatDate(record.startedAt)),
                   qUtf8Printable(json::formatDate(record.endedAt)));
    }
}

QCoro::Task<> ServiceRunHistoryManager::waitForPendingWrites()
{
    QPointer self(this);
    while (self && m_writeQueue.isValid() && !m_writeQueue.isFinished()) {
        const QFuture<void> last = m_writeQueue;
        co_await last;
    }
}

QCoro::Task<> ServiceRunHistoryManager::waitForCurrentWrite()
{
    if (m_writeQueue.isValid() && !m_writeQueue.isFinished()) {
        const QFuture<void> current = m_writeQueue;
        co_await current;
    }
}

QCoro::Task<> ServiceRunHistoryManager::clearHistory(QUuid serviceId, bool discardActiveRun)
{
    QPointer self(this);
    m_clearEpoch[serviceId] += 1;
    if (discardActiveRun)
        m_activeDrafts.remove(serviceId);
    QList<ServiceRunRecord> remaining = m_records;
    remaining.removeIf([&](const ServiceRunRecord &record) { return record.serviceId == serviceId; });
    publishRecords(std::move(remaining));
    m_unwritten.removeIf([&](const ServiceRunRecord &record) { return record.serviceId == serviceId; });
    enqueueWrite([this, serviceId] { return clearInFile(serviceId); });
    co_await reloadAfterPendingWrites();
}

QCoro::Task<> ServiceRunHistoryManager::deleteRecord(QUuid recordId)
{
    QList<ServiceRunRecord> remaining = m_records;
    remaining.removeIf([&](const ServiceRunRecord &record) { return record.id == recordId; });
    publishRecords(std::move(remaining));
    m_unwritten.removeIf([&](const ServiceRunRecord &record) { return record.id == recordId; });
    enqueueWrite([this, recordId] { return deleteInFile(recordId); });
    co_await reloadAfterPendingWrites();
}

QCoro::Task<> ServiceRunHistoryManager::loadHistory()
{
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    m_loading = done->future();
    co_await reloadAfterPendingWrites();
    done->finish();
}

QCoro::Task<> ServiceRunHistoryManager::waitForLoad()
{
    QPointer self(this);
    while (self && m_loading.isValid() && !m_loading.isFinished()) {
        const QFuture<void> loading = m_loading;
        co_await loading;
    }
}

QCoro::Task<> ServiceRunHistoryManager::reloadAfterPendingWrites()
{
    // A record inserted while the file is being read is not in what the read
    // returns, and publishing that would hide the record until restart; so
    // read again until no change came in during the read.
    QPointer self(this);
    QList<ServiceRunRecord> loaded;
    while (true) {
        co_await waitForPendingWrites();
        if (!self)
            co_return;
        const quint64 changesBefore = m_historyChanges;
        try {
            loaded = co_await m_repository.loadChecked();
        } catch (const FileStoreError &error) {
            if (!self)
                co_return;
            // What is listed stays; the file is not known to be empty.
            qCCritical(lcPersistence, "Failed to load %s: %s",
                       qUtf8Printable(QFileInfo(m_repository.path()).fileName()), qUtf8Printable(error.message()));
            m_lastLoadFailed = true;
            co_return;
        }
        if (!self)
            co_return;
        if (m_historyChanges == changesBefore)
            break;
    }
    // A damaged file lists none of its runs, an unread side file none of its
    // own: memory tells nothing of them either.
    m_lastLoadFailed = m_repository.lastLoadFoundDamage() || m_repository.lastLoadMissedKeptAside();
    // Runs still waiting for a write that succeeds are not in the file yet.
    QSet<QUuid> loadedIds;
    for (const ServiceRunRecord &record : std::as_const(loaded))
        loadedIds.insert(record.id);
    for (const ServiceRunRecord &record : std::as_const(m_unwritten)) {
        if (!loadedIds.contains(record.id))
            loaded.append(record);
    }
    for (ServiceRunRecord &record : loaded)
        redactSecretEnvironmentEntriesInPlace(record.environment);
    if (m_pendingRedaction)
        maskProfiles(loaded, m_pendingRedaction->profileIDs, m_pendingRedaction->profileNames);
    sortRunRecordsNewestFirst(loaded);
    publishRecords(std::move(loaded));
    retryPendingRedaction();
}

void ServiceRunHistoryManager::setProtectedProfiles(QSet<QUuid> profileIDs, QSet<QString> profileNames)
{
    // Queued, so every request made after this call folds with these profiles.
    m_repository.setProtectedProfiles(std::move(profileIDs), std::move(profileNames));
}

QCoro::Task<> ServiceRunHistoryManager::redactProtectedProfileHistory(QSet<QUuid> profileIDs,
                                                                      QSet<QString> profileNames)
{
    setProtectedProfiles(profileIDs, profileNames);
    if (profileIDs.isEmpty() && profileNames.isEmpty())
        co_return;
    QPointer self(this);
    // Until the load has published the stored runs, the records in memory are
    // only those finished since start: a rewrite from them would drop the rest.
    co_await waitForLoad();
    if (!self)
        co_return;

    // Whether anything changed is known while building, so unchanged 150 KB
    // outputs are never compared.
    QList<ServiceRunRecord> redacted = m_records;
    const bool changed = maskProfiles(redacted, profileIDs, profileNames);
    // After a load that could not read the file or the side file, memory
    // tells nothing of the runs in them: they are redacted all the same.
    if (!changed && !m_lastLoadFailed)
        co_return;
    if (changed) {
        sortRunRecordsNewestFirst(redacted);
        m_records = std::move(redacted);
        Q_EMIT recordsChanged();
    }
    // In the write chain, after the appends of every record it holds and before
    // those of records finished later. The file's own runs are masked, not
    // replaced by the list in memory, so none is lost or written twice.
    enqueueWrite([this, profileIDs, profileNames] { return redactInFile(profileIDs, profileNames); });
    co_await waitForCurrentWrite();
}

bool ServiceRunHistoryManager::maskProfiles(QList<ServiceRunRecord> &records, const QSet<QUuid> &profileIDs,
                                            const QSet<QString> &profileNames)
{
    for (ActiveRunDraft &draft : m_activeDrafts) {
        if (runUsesProfile(draft.environmentProfileId, draft.environmentProfileName, profileIDs, profileNames))
            maskEveryEntry(draft.environment);
    }
    for (ServiceRunRecord &record : m_unwritten) {
        if (runUsesProfile(record.environmentProfileId, record.environmentProfileName, profileIDs, profileNames))
            maskEveryEntry(record.environment);
    }
    return maskRunsOfProfiles(records, profileIDs, profileNames);
}

void ServiceRunHistoryManager::publishRecords(QList<ServiceRunRecord> records)
{
    if (records == m_records)
        return;
    m_records = std::move(records);
    Q_EMIT recordsChanged();
}
