#include "records/DataFolderLock.h"

#include "platform/Logging.h"
#include "records/FileSystemCalls.h"
#include "records/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QStringList>

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

[[noreturn]] void throwNotLocked(const QString &folder, int error)
{
    throw FileStoreError(QStringLiteral("Velmora's data folder “%1” couldn’t be locked: %2")
                             .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace

DataFolderLock::DataFolderLock(const QString &folder)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(lockFileName));
    const int fd = calls.open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        throwNotLocked(folder, errno);
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
        throw DataFolderLockedError(QStringLiteral("Velmora is already running for this user, in this or another "
                                                   "session. Quit it there, then open Velmora again."));
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
