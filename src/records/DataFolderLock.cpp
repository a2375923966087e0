#include "records/DataFolderLock.h"

#include "platform/Logging.h"
#include "records/FileSystemCalls.h"
#include "records/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const QStringList &DataFolderLock::storeFileNames()
{
    static const QStringList names {QStringLiteral("bookmarks.json"),    QStringLiteral("settings.json"),
                                    QStringLiteral("environments.json"), QStringLiteral("run-history.json"),
                                    QStringLiteral("services.json"),     QStringLiteral("run-history-unwritten.jsonl")};
    return names;
}

namespace {

QString reasonFor(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void throwNotWritable(const QString &folder, int error)
{
    throw FileStoreError(
        QStringLiteral("Velmora's data folder “%1” can’t be written: %2").arg(folder, reasonFor(error)));
}

[[noreturn]] void throwNotLocked(const QString &folder, int error)
{
    throw FileStoreError(
        QStringLiteral("Velmora's data folder “%1” couldn’t be locked: %2").arg(folder, reasonFor(error)));
}

// The folder must take a new file: an immutable folder, or one on a file
// system mounted read-only, can still hold a lock file from an earlier run,
// and then every save would fail. An unnamed file leaves nothing behind even
// on a crash; a file system without them gets a uniquely named one.
void ensureTakesNewFiles(const QString &folder)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray folderPath = QFile::encodeName(folder);
    int fd = calls.open(folderPath.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        calls.close(fd);
        return;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR)
        throwNotWritable(folder, errno);
    const QByteArray probe = folderPath + "/.velmora-probe-" + QUuid::createUuid().toString(QUuid::Id128).toLatin1();
    fd = calls.open(probe.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        throwNotWritable(folder, errno);
    calls.close(fd);
    if (calls.unlink(probe.constData()) != 0)
        throwNotWritable(folder, errno);
}

// The lock file could not be opened: when it was still to be made, the folder
// refused a new file; otherwise the file itself is the problem.
[[noreturn]] void throwLockFileUnusable(const QString &folder, const QByteArray &path, int error)
{
    struct stat info {};
    const bool exists = FileSystemCalls::current().lstat(path.constData(), &info) == 0;
    if (error == EROFS || (!exists && (error == EACCES || error == EPERM)))
        throwNotWritable(folder, error);
    QString reason = reasonFor(error);
    if (exists && S_ISLNK(info.st_mode))
        reason = QStringLiteral("it is a symbolic link, which Velmora doesn’t follow");
    else if (exists && S_ISDIR(info.st_mode))
        reason = QStringLiteral("it is a folder");
    throw FileStoreError(
        QStringLiteral("Velmora's lock file “%1” can’t be used: %2").arg(QFile::decodeName(path), reason));
}

} // namespace

DataFolderLock::DataFolderLock(const QString &folder)
{
    ensureTakesNewFiles(folder);
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(lockFileName));
    const int fd = calls.open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        throwLockFileUnusable(folder, path, errno);
    int result = 0;
    do {
        result = calls.flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_fd = fd;
        removeStaleTemporaryFiles(folder);
        return;
    }
    const int error = errno;
    calls.close(fd);
    if (error == ENOLCK || error == EOPNOTSUPP) {
        qCCritical(lcPersistence, "The data folder can’t be locked on this file system; going on without the lock");
        return;
    }
    if (error == EWOULDBLOCK) {
        throw DataFolderLockedError(
            QStringLiteral("Velmora's data folder “%1” is in use: another process holds its lock file, %2 (most "
                           "likely Velmora, already running for this user in this or another session). Quit it "
                           "there, then open Velmora again.")
                .arg(folder, QLatin1String(lockFileName)));
    }
    throwNotLocked(folder, error);
}

DataFolderLock::~DataFolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void DataFolderLock::removeStaleTemporaryFiles(const QString &folder)
{
    const QDir dir(folder);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &entry : entries) {
        for (const QString &store : storeFileNames()) {
            if (!JsonFile::isTemporaryFileName(entry, store))
                continue;
            const QByteArray path = QFile::encodeName(dir.filePath(entry));
            struct stat info {};
            if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::unlink(path.constData()) == 0)
                qCInfo(lcPersistence, "Removed the stale temporary file %s", qUtf8Printable(entry));
        }
    }
}
