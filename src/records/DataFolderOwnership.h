#pragma once

#include "records/FileStoreError.h"

#include <QString>

// The data folder is not the user's own: nothing may be read from it.
class DataFolderRefusedError : public FileStoreError {
public:
    using FileStoreError::FileStoreError;
};

// Checked once at start, before any store reads: the data folder must resolve
// (a symbolic link is followed) to a folder the user owns. Another user could
// otherwise plant services there, or read what Velmora writes.
namespace DataFolderOwnership {

// Tightens a mode that lets group or others in to 0700 (logged). Throws
// DataFolderRefusedError when the folder resolves to something that is not a
// folder or that belongs to another user; a missing folder is left to be
// created.
void ensureOwnFolder(const QString &folder);

} // namespace DataFolderOwnership
