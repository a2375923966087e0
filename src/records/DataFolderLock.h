#pragma once

#include "records/FileStoreError.h"

#include <QString>
#include <QStringList>

// Another process of the same user (another login session) holds the data folder.
class DataFolderLockedError : public FileStoreError {
public:
    using FileStoreError::FileStoreError;
};

// An advisory lock on "velmora.lock" in the data folder, held for the life of
// the object, so two processes never write the same stores: their appends
// would overwrite each other. Launched services do not inherit it.
class DataFolderLock {
public:
    static constexpr const char *lockFileName = "velmora.lock";
    // The files of the stores that write through a temporary copy.
    static const QStringList &storeFileNames();

    // Checks that the folder takes a new file, takes the lock without
    // waiting, then removes temporary copies that a write interrupted by a
    // crash left behind (only while the lock is held, so no other process is
    // writing one). Throws DataFolderLockedError, naming the folder and the
    // lock file, when another process holds the lock; FileStoreError naming
    // the folder and the system's reason when the folder takes no new file or
    // cannot be locked, or naming the lock file when that file cannot be
    // opened (a folder, a symbolic link). On a file system without locks it
    // holds nothing (`isHeld()` false) and start-up goes on.
    explicit DataFolderLock(const QString &folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    bool isHeld() const { return m_fd >= 0; }

    // Removes the temporary files that writes of the store files leave behind
    // when interrupted; only names the store's writer makes, never a person's copy.
    static void removeStaleTemporaryFiles(const QString &folder);

private:
    int m_fd = -1;
};
