#pragma once

#include "records/FileSystemCalls.h"

#include <cerrno>

// A nearly full disk for the data files: while alive, every write of more
// than `limit` bytes fails with ENOSPC.
class NearlyFullDisk final : public FileSystemCalls {
public:
    explicit NearlyFullDisk(size_t limit)
        : m_limit(limit)
    {
        replaceForTesting(this);
    }
    ~NearlyFullDisk() override { replaceForTesting(nullptr); }
    NearlyFullDisk(const NearlyFullDisk &) = delete;
    NearlyFullDisk &operator=(const NearlyFullDisk &) = delete;

    ssize_t write(int fd, const void *buffer, size_t size) override
    {
        if (size <= m_limit)
            return FileSystemCalls::write(fd, buffer, size);
        errno = ENOSPC;
        return -1;
    }

private:
    size_t m_limit;
};
