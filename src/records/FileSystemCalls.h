#pragma once

#include <sys/types.h>

struct stat;

// The system calls the data files are read and written with. The live process
// always uses the plain calls; a test installs a subclass to make one chosen
// call fail with a chosen errno, the way a full disk or a failing device would.
class FileSystemCalls {
public:
    virtual ~FileSystemCalls() = default;

    // The installed calls; the plain ones unless a test replaced them.
    static FileSystemCalls &current();
    // Installs `calls` for every data file until called again with nullptr.
    // Not for the live process: the object must outlive its use.
    static void replaceForTesting(FileSystemCalls *calls);

    virtual int open(const char *path, int flags, mode_t mode = 0);
    virtual ssize_t read(int fd, void *buffer, size_t size);
    virtual ssize_t pread(int fd, void *buffer, size_t size, off_t offset);
    virtual ssize_t write(int fd, const void *buffer, size_t size);
    virtual int fdatasync(int fd);
    virtual int fsync(int fd);
    virtual int ftruncate(int fd, off_t length);
    virtual int close(int fd);
    virtual int rename(const char *from, const char *to);
    virtual int link(const char *from, const char *to);
    virtual int unlink(const char *path);
    virtual int stat(const char *path, struct stat *info);
    virtual int lstat(const char *path, struct stat *info);
    virtual int fstat(int fd, struct stat *info);
    virtual int flock(int fd, int operation);
};
