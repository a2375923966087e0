#pragma once

#include "records/JsonFile.h"
#include "records/ServiceRunRecord.h"

#include <QList>
#include <QString>

#include <functional>

// Finished runs whose history write failed, kept beside the history file
// until a write of it succeeds: one compact JSON record a line, appended and
// synced at once. It stays small (a few runs, their output capped), so it has
// room where a rewrite of a large history does not. A line that does not read
// as a run (a torn last append) is skipped and logged. Used by the history
// repository on its own thread only.
class UnwrittenRunsFile {
public:
    // The file beside `historyPath`, named after it.
    explicit UnwrittenRunsFile(const QString &historyPath);

    const QString &path() const { return m_file.path(); }

    // The runs kept, oldest first, one per id (the last kept). Throws
    // FileStoreError when the file exists but cannot be read.
    QList<ServiceRunRecord> runs();
    // Appends the runs (secrets masked, output capped) and syncs the file;
    // throws FileStoreError when they could not all be kept.
    void append(const QList<ServiceRunRecord> &runs);
    // Rewrites the file with `edit` applied to its runs, when that changes any.
    void edit(const std::function<bool(QList<ServiceRunRecord> &)> &edit);
    // Removes the file: its runs are in the history now.
    void remove();

private:
    JsonFile m_file;
};
