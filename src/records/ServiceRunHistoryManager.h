#pragma once

#include "records/ActiveRunDraft.h"
#include "records/ServiceRunHistoryRepository.h"
#include "records/ServiceRunRecord.h"

#include <QCoroTask>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

// The main-thread owner of the run history: the published records of every
// service (latest start first, secrets masked), the open run of each running
// service, and the chain through which writes reach the repository one after
// the other, in the order they were asked for.
class ServiceRunHistoryManager : public QObject {
    Q_OBJECT

public:
    // One queued write; called on the main thread when every earlier write has finished.
    using WriteOperation = std::function<QCoro::Task<>()>;

    explicit ServiceRunHistoryManager(ServiceRunHistoryRepository &repository, QObject *parent = nullptr);

    const QList<ServiceRunRecord> &records() const { return m_records; }
    // The records of one service, latest first.
    QList<ServiceRunRecord> records(const QUuid &serviceId) const;
    // The output of one recorded run: from memory while the run is not yet in
    // the file, else read back from it. Throws FileStoreError when it cannot be read.
    QCoro::Task<QString> runOutput(QUuid recordId);
    // The record most recently inserted; never cleared.
    std::optional<QUuid> latestAddedRecordID() const { return m_latestAddedRecordID; }

    // Open runs, one per service.
    const QHash<QUuid, ActiveRunDraft> &activeDrafts() const { return m_activeDrafts; }
    std::optional<ActiveRunDraft> activeDraft(const QUuid &serviceId) const;
    // Stores the draft under its service id, replacing an open run without recording
    // it (finish that one first). Secret values are masked on the way in.
    void setActiveDraft(ActiveRunDraft draft);
    // Removes and returns the service's open run, which then leaves no record by itself.
    std::optional<ActiveRunDraft> takeActiveDraft(const QUuid &serviceId);

    // How often the service's history was cleared since start (0 when never).
    int clearEpoch(const QUuid &serviceId) const { return m_clearEpoch.value(serviceId, 0); }

    // Closes the service's open run as a record (output cut to its last 150000
    // characters) and queues its write. Without an open run nothing happens.
    void finishRun(const QUuid &serviceId, ServiceRunStopReason stopReason, std::optional<qint32> exitCode,
                   const QString &output);
    void updatePeakUsage(const QUuid &serviceId, double cpuPercent, quint64 memoryBytes);
    void updatePid(const QUuid &serviceId, qint32 pid);

    // Puts the record first (replacing one with the same id, secrets masked), keeps
    // 50 per service, sorts by start time and publishes; then publishes its id as
    // the latest.
    void insertRecord(const ServiceRunRecord &record);

    void enqueueWrite(WriteOperation operation);
    enum class RunKind { finishedRun, blockedLaunch };
    // Queues the append of a run made when the service's clear epoch was `epoch`.
    // Appends queued while an earlier write is in progress go to the file
    // together, in one write, in the order they were queued.
    void enqueueAppend(QUuid serviceId, int epoch, ServiceRunRecord record, RunKind kind);
    // Single appends for a finished run and for a refused launch: both append
    // the record unless the service's history was cleared since `epoch`.
    QCoro::Task<> persistRun(QUuid serviceId, int epoch, ServiceRunRecord record);
    QCoro::Task<> persistBlockedLaunch(QUuid serviceId, int epoch, ServiceRunRecord record);

    // Until the returned object is gone, the writes queued from now on wait
    // (one in progress finishes): the appends queued meanwhile then go to the
    // file in one write. For the quit, which stops every running service at once.
    std::shared_ptr<void> holdWrites();

    // Completes when every write queued so far, and any queued meanwhile, has
    // finished. Quitting awaits it so the last runs reach the disk.
    QCoro::Task<> waitForPendingWrites();
    // How many queued writes have finished, for a waiter to tell progress.
    quint64 finishedWriteCount() const { return m_finishedWrites; }

    // Finished runs whose write failed, newest first. Each goes into the file
    // with the next write that succeeds, unless cleared or deleted first.
    const QList<ServiceRunRecord> &unwrittenRuns() const { return m_unwritten; }
    // The unwritten runs that are not in the side file either: lost at quit.
    QCoro::Task<QList<ServiceRunRecord>> runsSavedNowhere();
    // Writes the unwritten runs once more, after the writes already queued.
    QCoro::Task<> retryUnwrittenRuns();
    // Logs every run that is in neither the file nor the side file; for the end
    // of the quit.
    QCoro::Task<> logUnwrittenRuns();

    // Forgets the service's runs (and its open run when `discardActiveRun`), clears
    // them from the file, then reloads.
    QCoro::Task<> clearHistory(QUuid serviceId, bool discardActiveRun);
    QCoro::Task<> deleteRecord(QUuid recordId);
    QCoro::Task<> loadHistory();
    // The profiles protected now, whose values no write may put in the file in
    // clear: the runs of theirs that a write or a load folds in from the side
    // file are masked. Given before the load at start, as the load folds.
    void setProtectedProfiles(QSet<QUuid> profileIDs, QSet<QString> profileNames);
    // Sets the protected profiles as above, then masks every value of their
    // runs (matched by id, else by name) and rewrites the file when anything
    // changed, or when the last load could not read the file or the side file,
    // after a load in progress has finished and in turn with the other writes.
    QCoro::Task<> redactProtectedProfileHistory(QSet<QUuid> profileIDs, QSet<QString> profileNames);

    // Words for a person while redactions keep failing (a protected profile's
    // values may still be in the file in clear): from the first failure after
    // one that succeeded until they have been shown or a redaction succeeds.
    // A failure met while nothing can show it (at start, or with no window
    // open) thus waits for the first chance.
    const std::optional<QString> &untoldRedactionFailure() const { return m_untoldRedactionFailure; }
    // The words above have been shown: the failures that follow in the same
    // run of failures are not told again.
    void redactionFailureTold();

Q_SIGNALS:
    void recordsChanged();
    void latestAddedRecordIDChanged();
    // A write of the history failed after the ones before it had succeeded
    // (said once for each run of failures), or a clear or delete failed (said
    // each time). `message` is for a person. Redactions speak through
    // untoldRedactionFailure instead.
    void writeFailed(const QString &message);
    void untoldRedactionFailureChanged();

private:
    struct QueuedAppend {
        QUuid serviceId;
        int epoch = 0;
        RunKind kind = RunKind::finishedRun;
        ServiceRunRecord record;
    };
    struct AppendBatch {
        QList<QueuedAppend> appends;
        bool started = false;
    };

    QCoro::Task<> persistBatch(const std::shared_ptr<AppendBatch> &batch);
    QCoro::Task<> persist(QList<QueuedAppend> appends);
    QCoro::Task<> writeUnwritten();
    QCoro::Task<> clearInFile(QUuid serviceId);
    QCoro::Task<> deleteInFile(QUuid recordId);
    QCoro::Task<> redactInFile(QSet<QUuid> profileIDs, QSet<QString> profileNames);
    // Masks the matching records and open runs; true when a record changed.
    bool maskProfiles(QList<ServiceRunRecord> &records, const QSet<QUuid> &profileIDs,
                      const QSet<QString> &profileNames);
    void rememberPendingRedaction(const QSet<QUuid> &profileIDs, const QSet<QString> &profileNames);
    void retryPendingRedaction();
    void keepUnwritten(const ServiceRunRecord &record);
    void forgetWritten(const QList<ServiceRunRecord> &records);
    void noteWriteSucceeded(const QList<ServiceRunRecord> &written);
    // The outputs of these runs are in the file now: the records stop holding them.
    void releaseWrittenOutputs(const QList<ServiceRunRecord> &written);
    void noteWriteFailed(const char *logFormat, const std::exception &error);
    // Redactions fail and succeed in a run of their own, apart from the other writes.
    void noteRedactionFailed(const std::exception &error);
    void noteRedactionSucceeded();
    void setUntoldRedactionFailure(const std::optional<QString> &message);
    // A clear or delete that left a run it removes saved; the reload lists it again.
    void noteRemovalFailed(const char *logFormat, const std::exception &error, const QString &consequence);
    QCoro::Task<> reloadAfterPendingWrites();
    QCoro::Task<> waitForCurrentWrite();
    QCoro::Task<> waitForLoad();
    void publishRecords(QList<ServiceRunRecord> records);

    ServiceRunHistoryRepository &m_repository;
    QList<ServiceRunRecord> m_records;
    std::optional<QUuid> m_latestAddedRecordID;
    QHash<QUuid, ActiveRunDraft> m_activeDrafts;
    QHash<QUuid, int> m_clearEpoch;
    // Finishes when the last queued write has; invalid until the first write.
    QFuture<void> m_writeQueue;
    // Finishes when the latest loadHistory has published; invalid until the first.
    QFuture<void> m_loading;
    // Counts every change that a reload running at the same time could miss.
    quint64 m_historyChanges = 0;
    QList<ServiceRunRecord> m_unwritten;
    // The last load could not read the file or the side file, or found the
    // file damaged: the list may lack stored runs.
    bool m_lastLoadFailed = false;
    // Profiles whose runs are masked in memory but perhaps not yet in the file.
    struct PendingRedaction {
        QSet<QUuid> profileIDs;
        QSet<QString> profileNames;
    };
    std::optional<PendingRedaction> m_pendingRedaction;
    bool m_writesFailing = false;
    bool m_redactionsFailing = false;
    std::optional<QString> m_untoldRedactionFailure;
    quint64 m_finishedWrites = 0;
    // The appends of the chain's last link while it has not started; null
    // when that link is some other write.
    std::shared_ptr<AppendBatch> m_openBatch;
};
