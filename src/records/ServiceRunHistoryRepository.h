#pragma once

#include "records/FileStoreError.h"
#include "records/JSONFileStore.h"
#include "records/RecordListFile.h"
#include "records/SerialExecutor.h"
#include "records/ServiceRunRecord.h"
#include "records/UnwrittenRunsFile.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <atomic>
#include <functional>
#include <optional>

// Keeps the first `maximumRecordsPerService` records of every service, in order.
QList<ServiceRunRecord> limitRunHistoryPerService(QList<ServiceRunRecord> records);
// Latest start first; equal starts keep their order.
void sortRunRecordsNewestFirst(QList<ServiceRunRecord> &records);

// Whether a run used one of these profiles: by id, else by name.
bool runUsesProfile(const std::optional<QUuid> &profileId, const std::optional<QString> &profileName,
                    const QSet<QUuid> &profileIDs, const QSet<QString> &profileNames);
// Masks every value and marks every entry secret; returns whether anything changed.
bool maskEveryEntry(QList<ServiceRunEnvironmentEntry> &entries);
// Masks every entry of the runs that used one of these profiles; returns whether any changed.
bool maskRunsOfProfiles(QList<ServiceRunRecord> &records, const QSet<QUuid> &profileIDs,
                        const QSet<QString> &profileNames);

// run-history.json, one request at a time. Every write replaces the whole file
// atomically with every secret value masked; appends keep at most 50 runs per
// service. Write failures (FileStoreError) reach the caller through the future
// and leave the previous file untouched; so does a file that an append, delete
// or clear cannot read. A file whose content does not decode is set aside,
// not overwritten.
//
// A run whose append fails goes at once into a small side file beside it
// (UnwrittenRunsFile), which has room where a copy of a large history does
// not. Every later write, and every load, folds those runs into the file by
// id (the newest by start kept within the limit), masking the runs of the
// protected profiles, and then removes the side file. A clear, delete or
// redaction applies to the side file first, and to the runs it folds; a
// clear or delete succeeds only once no run it removes is left in either
// file, a redaction only once no run it masks is left in clear in either.
//
// The file can hold 150–200 MB. The repository remembers where each record's
// text lies in the bytes it last read or wrote, with a hash of that text; while
// the file still holds exactly those bytes, an append, delete or clear copies
// the stored text of the records it keeps as it reads the file through once,
// checking every byte, instead of decoding and re-encoding all of them; and an
// output is read back from its record alone.
class ServiceRunHistoryRepository {
public:
    static constexpr qsizetype maximumRecordsPerService = 50;

    explicit ServiceRunHistoryRepository(const QString &path);

    const QString &path() const { return m_store.path(); }

    // `unwritten`, in each write below: runs whose earlier write failed. They go
    // right after the operation's own record (first when it has none), each in
    // place of a stored record with its id, so a run that reached the file
    // after all is never there twice.

    // Inserts the record first (its secrets masked), trims every service and writes.
    QFuture<void> append(const ServiceRunRecord &record, QList<ServiceRunRecord> unwritten = {});
    // As append, for several records at once (newest first) in one write.
    QFuture<void> appendAll(QList<ServiceRunRecord> newestFirst, QList<ServiceRunRecord> unwritten = {});
    // The ids of the runs kept aside after their write failed (none when they cannot be read).
    QFuture<QSet<QUuid>> keptAsideIds();
    // The stored list as it is, outputs and all: no masking, sorting or limit. Never fails.
    QFuture<QList<ServiceRunRecord>> load();
    // As load, but every output is left in the file (see readOutput), and a
    // file that cannot be read at all throws FileStoreError instead of reading
    // as the empty list.
    QFuture<QList<ServiceRunRecord>> loadChecked();
    // Whether the last of those loads found the file damaged (its content set
    // aside by the next write); read once the load has finished.
    bool lastLoadFoundDamage() const { return m_foundDamage; }
    // Whether the last of those loads could not read the runs kept aside: the
    // side file may hold runs the list lacks. Read once the load has finished.
    bool lastLoadMissedKeptAside() const { return m_missedKeptAside; }
    // The profiles whose values no write may put in the file in clear, for
    // the requests made after this one: every run of theirs folded in from the
    // side file or from `unwritten` (the fold at load included) is masked.
    QFuture<void> setProtectedProfiles(QSet<QUuid> profileIDs, QSet<QString> profileNames);
    // The output of the stored run with this id. Throws FileStoreError when the
    // file cannot be read or no longer holds the run.
    QFuture<QString> readOutput(const QUuid &recordId);
    // Removes every record with this id (the file is rewritten even when none matched).
    QFuture<void> deleteRecord(const QUuid &recordId, QList<ServiceRunRecord> unwritten = {});
    // Removes every record of this service.
    QFuture<void> clear(const QUuid &serviceId, QList<ServiceRunRecord> unwritten = {});
    // Writes the list in its order, unlimited.
    QFuture<void> replaceAll(const QList<ServiceRunRecord> &records);
    // Masks every entry of the stored runs that used one of these profiles and
    // writes the file when that changed anything (or `unwritten` has runs).
    // Throws FileStoreError while such a run may be left in clear in either file.
    QFuture<void> redactProfiles(const QSet<QUuid> &profileIDs, const QSet<QString> &profileNames,
                                 QList<ServiceRunRecord> unwritten = {});

private:
    // What the repository knows of each stored record, element by element of the file's layout.
    struct StoredRun {
        QUuid id;
        QUuid serviceId;
        std::optional<QUuid> profileId;
        std::optional<QString> profileName;
        // The text holds a secret value in clear (a hand-edited file): it is
        // decoded and encoded again, masked, before it is written back.
        bool clearSecrets = false;
    };
    // What a rewrite does with one stored record: leave it out, copy its text,
    // or write it again with every environment value masked.
    enum class StoredAction { drop, keep, mask };
    using Plan = std::function<StoredAction(const StoredRun &)>;

    QList<ServiceRunRecord> loadIndexed();
    std::optional<QString> readIndexedOutput(const QUuid &recordId);
    void writeRecords(QList<ServiceRunRecord> records);
    // Rewrites the file from its own text after `front`, each stored record as
    // `plan` says; false when the file is no longer what this repository read
    // or wrote. With `onlyIfMasked`, nothing is written unless masking changed
    // a record.
    bool rewriteStored(const QList<ServiceRunRecord> &front, const Plan &plan, bool onlyIfMasked = false);
    // The text of a stored record with its clear secrets masked (and, with
    // `everyEntry`, every entry); nullopt when that changes nothing.
    static std::function<std::optional<QByteArray>(QByteArrayView)> maskedText(bool everyEntry);
    static StoredRun storedRun(const ServiceRunRecord &record);
    void appendInFile(const QList<ServiceRunRecord> &newestFirst, const QList<ServiceRunRecord> &unwritten);
    // The stored list, with the runs kept aside folded into the file first,
    // the protected profiles' masked (listed as kept when that write fails).
    QList<ServiceRunRecord> loadFoldingKeptAside();
    using RunFilter = std::function<bool(const ServiceRunRecord &)>;
    // Runs `write` with the runs kept aside added to `unwritten`, but for those
    // `removed` matches; once it succeeds they are in the file and the side
    // file goes. Returns whether the side file holds none of its runs now.
    bool writeFoldingKeptAside(const QList<ServiceRunRecord> &unwritten,
                               const std::function<void(const QList<ServiceRunRecord> &)> &write,
                               const RunFilter &removed = {});
    // Removes the runs `removed` matches from both files, `dropStored` telling
    // them among the stored ones. Throws FileStoreError unless none is left.
    void removeRuns(const RunFilter &removed, const std::function<bool(const StoredRun &)> &dropStored,
                    const QList<ServiceRunRecord> &unwritten);
    // After `editFailed` (from editKeptAside) and a write that folded the side
    // file, unless it is gone: throws the edit's error unless the side file
    // holds none of the runs `unwanted` matches.
    void requireNoneKeptAside(const std::optional<FileStoreError> &editFailed, bool keptAsideGone,
                              const RunFilter &unwanted);
    // The runs kept aside; nullopt (logged) when they cannot be read.
    std::optional<QList<ServiceRunRecord>> readKeptAside();
    // As above, none when they cannot be read.
    QList<ServiceRunRecord> keptAsideRuns();
    // Puts runs whose write failed into the side file; logs when that fails too.
    void keepAside(const QList<ServiceRunRecord> &runs);
    // Applies `edit` to the side file; the error (logged) when that failed.
    std::optional<FileStoreError> editKeptAside(const std::function<bool(QList<ServiceRunRecord> &)> &edit);
    // The stored list with `front` first, none of the stored ones of an `unwritten` id.
    QList<ServiceRunRecord> loadWithFront(QList<ServiceRunRecord> front, const QList<ServiceRunRecord> &unwritten);
    // Masks every entry of the runs of the protected profiles.
    void maskProtected(QList<ServiceRunRecord> &runs) const;

    JSONFileStore<QList<ServiceRunRecord>> m_store;
    RecordListFile m_list;
    QList<StoredRun> m_runs; // while m_list has a layout
    UnwrittenRunsFile m_keptAside;
    // Profiles whose runs a damaged file's aside copy has masked.
    struct Profiles {
        QSet<QUuid> profileIDs;
        QSet<QString> profileNames;
    };
    Profiles m_maskedAside;
    Profiles m_protected;
    std::atomic<bool> m_foundDamage = false;
    std::atomic<bool> m_missedKeptAside = false;
    SerialExecutor m_executor;
};
