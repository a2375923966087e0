#include "records/FileSystemCalls.h"

#include <atomic>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<FileSystemCalls *> replacement {nullptr};

} // namespace

FileSystemCalls &FileSystemCalls::current()
{
    static FileSystemCalls plain;
    FileSystemCalls *calls = replacement.load(std::memory_order_acquire);
    return calls ? *calls : plain;
}

void FileSystemCalls::replaceForTesting(FileSystemCalls *calls)
{
    replacement.store(calls, std::memory_order_release);
}

int FileSystemCalls::open(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

ssize_t FileSystemCalls::read(int fd, void *buffer, size_t size)
{
    return ::read(fd, buffer, size);
}

ssize_t FileSystemCalls::pread(int fd, void *buffer, size_t size, off_t offset)
{
    return ::pread(fd, buffer, size, offset);
}

ssize_t FileSystemCalls::write(int fd, const void *buffer, size_t size)
{
    return ::write(fd, buffer, size);
}

int FileSystemCalls::fdatasync(int fd)
{
    return ::fdatasync(fd);
}

int FileSystemCalls::fsync(int fd)
{
    return ::fsync(fd);
}

int FileSystemCalls::ftruncate(int fd, off_t length)
{
    return ::ftruncate(fd, length);
}

int FileSystemCalls::close(int fd)
{
    return ::close(fd);
}

int FileSystemCalls::rename(const char *from, const char *to)
{
    return ::rename(from, to);
}

int FileSystemCalls::link(const char *from, const char *to)
{
    return ::link(from, to);
}

int FileSystemCalls::unlink(const char *path)
{
    return ::unlink(path);
}

int FileSystemCalls::stat(const char *path, struct stat *info)
{
    return ::stat(path, info);
}

int FileSystemCalls::lstat(const char *path, struct stat *info)
{
    return ::lstat(path, info);
}

int FileSystemCalls::fstat(int fd, struct stat *info)
{
    return ::fstat(fd, info);
}

int FileSystemCalls::flock(int fd, int operation)
{
    return ::flock(fd, operation);
}
