#pragma once

#include "records/JsonFile.h"
#include "records/ServiceRunRecord.h"

#include <QList>
#include <QString>

#include <functional>

struct stat;

// Finished runs whose history write failed, kept beside the history file
// until a write of it succeeds: one compact JSON record a line, appended and
// synced at once. It stays small (a few runs, their output capped), so it has
// room where a rewrite of a large history does not. A line that does not read
// as a run (a torn last append) is skipped and logged. Anything at the path
// that is not the only name of a regular file of the user's own is never read,
// written or removed, but moved aside as it is and replaced by a new file.
// Used by the history repository on its own thread only.
class UnwrittenRunsFile {
public:
    // The file beside `historyPath`, named after it.
    explicit UnwrittenRunsFile(const QString &historyPath);

    const QString &path() const { return m_file.path(); }

    // The runs kept, oldest first, one per id (the last kept). Throws
    // FileStoreError when the file exists but cannot be read.
    QList<ServiceRunRecord> runs();
    // Appends the runs (secrets masked, output capped) and syncs the file;
    // throws FileStoreError when they could not all be kept. Those that fit
    // stay, in whole lines.
    void append(const QList<ServiceRunRecord> &runs);
    // Rewrites the file with `edit` applied to its runs, when that changes any,
    // and removes it when that leaves none. Throws FileStoreError when the
    // file could not be read, written or removed.
    void edit(const std::function<bool(QList<ServiceRunRecord> &)> &edit);
    // Removes the file, for good: its runs are in the history now. False
    // (logged) when it may still be there.
    bool remove();

private:
    // 0, or the errno when the file may still be there.
    int removeFile();
    // The open file, made anew when nothing of ours is there; throws FileStoreError.
    int openOwnFile(struct stat &info);
    [[noreturn]] void throwSaveError(int error) const;

    JsonFile m_file;
};
