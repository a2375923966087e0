#pragma once

#include "records/JsonFile.h"
#include "records/SerialExecutor.h"

#include <QByteArray>
#include <QFuture>
#include <QMap>
#include <QString>

// Remembers a bookmark for each file or folder the user picks, in bookmarks.json.
// Without an application sandbox a bookmark is simply the path's UTF-8 bytes;
// nothing reads the stored data back.
class SecurityScopedBookmarkStore {
public:
    explicit SecurityScopedBookmarkStore(const QString &path);

    // Throws FileStoreError through the future when the item does not exist or
    // the file cannot be written, or read again after a start that could not
    // read it; a failed write keeps the entry in memory.
    QFuture<void> rememberBookmark(const QString &path);

    // For tests and diagnostics: a snapshot taken on the store's executor.
    QFuture<QMap<QString, QByteArray>> bookmarks();

private:
    void rememberNow(const QString &path);
    // Adds the file's entries to those in memory; the file's lock must be held.
    void readStoredLocked();

    JsonFile m_file;
    QMap<QString, QByteArray> m_bookmarks;
    SerialExecutor m_executor;
};
