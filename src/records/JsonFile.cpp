#include "records/JsonFile.h"

#include "platform/Logging.h"
#include "records/FileStoreError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

JsonFile::JsonFile(QString path)
    : m_path(std::move(path))
{}

QString JsonFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

std::optional<QByteArray> JsonFile::readLocked() const
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        const int error = errno;
        struct stat linkInfo {};
        if (error == ENOENT && ::lstat(path.constData(), &linkInfo) != 0)
            return std::nullopt;
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be opened: %2")
                                 .arg(fileName(), QString::fromLocal8Bit(std::strerror(error))));
    }
    // Only a regular file is read: a FIFO blocks its reader until a writer comes,
    // and a device may never end.
    checkRegularFile(info);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be opened: %2")
                                 .arg(fileName(), QString::fromLocal8Bit(std::strerror(errno))));
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    // The path may have been replaced since the check above.
    if (::fstat(fd, &info) != 0)
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be read.").arg(fileName()));
    checkRegularFile(info);
    return readWhole(fd, info.st_size);
}

void JsonFile::checkRegularFile(const struct stat &info) const
{
    if (S_ISDIR(info.st_mode))
        throw FileStoreError(
            QStringLiteral("The file “%1” couldn’t be opened because it is a folder.").arg(fileName()));
    if (!S_ISREG(info.st_mode))
        throw FileStoreError(
            QStringLiteral("The file “%1” couldn’t be opened because it isn’t a regular file.").arg(fileName()));
    if (info.st_size > maximumFileSize)
        throw FileStoreError(QStringLiteral("The file “%1” is too large to be read.").arg(fileName()));
}

QByteArray JsonFile::readWhole(int fd, qint64 expectedSize) const
{
    // Room past the expected size shows a file that grew while being read, and
    // leaves the parser's padding in place, so the text never moves again.
    QByteArray bytes(static_cast<qsizetype>(expectedSize) + 32, Qt::Uninitialized);
    qsizetype size = 0;
    while (true) {
        if (size == bytes.size()) {
            if (size > maximumFileSize)
                throw FileStoreError(QStringLiteral("The file “%1” is too large to be read.").arg(fileName()));
            bytes.resize(std::min<qsizetype>(size * 2, maximumFileSize + 1));
        }
        const ssize_t count = ::read(fd, bytes.data() + size, static_cast<size_t>(bytes.size() - size));
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw FileStoreError(QStringLiteral("The file “%1” couldn’t be read: %2")
                                     .arg(fileName(), QString::fromLocal8Bit(std::strerror(errno))));
        }
        size += count;
    }
    bytes.truncate(size);
    return bytes;
}

void JsonFile::writeLocked(const QByteArray &bytes)
{
    if (m_unreadable)
        setAsideUnreadable();

    QSaveFile file(m_path);
    file.setDirectWriteFallback(false);
    // Unbuffered, with short writes retried: a failing write (disk full, size
    // limit) is then reported by write() itself, with the system's reason. A
    // buffered write could fail only in the flush, which commit() overlooks,
    // putting a truncated file in place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be saved: %2").arg(fileName(), file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0)
            break;
        written += count;
    }
    if (written != bytes.size() || !file.flush() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be saved: %2").arg(fileName(), reason));
    }
    syncFolder(QFileInfo(m_path).absolutePath());
}

void JsonFile::setAsideUnreadable()
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || S_ISDIR(info.st_mode)) {
        m_unreadable = false;
        return;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    const QString base = m_path + QStringLiteral(".unreadable-") + stamp;
    QString target = base;
    bool kept = false;
    // A second name for the same bytes: the path itself is replaced only by the
    // atomic write that follows, so it never goes missing in between.
    for (int suffix = 2; suffix < 1000; ++suffix) {
        if (::link(path.constData(), QFile::encodeName(target).constData()) == 0) {
            kept = true;
            break;
        }
        if (errno != EEXIST)
            break;
        target = base + QLatin1Char('-') + QString::number(suffix);
    }
    // A file system without hard links: move the file aside instead.
    if (!kept && !QFileInfo::exists(target) && QFile::rename(m_path, target))
        kept = true;
    if (!kept) {
        // Refuse to overwrite what could not be kept: the caller sees the failure.
        throw FileStoreError(
            QStringLiteral("The unreadable file “%1” couldn’t be set aside before saving.").arg(fileName()));
    }
    syncFolder(QFileInfo(m_path).absolutePath());
    m_unreadable = false;
    qCCritical(lcPersistence, "Set aside unreadable %s as %s", qUtf8Printable(fileName()),
               qUtf8Printable(QFileInfo(target).fileName()));
}
