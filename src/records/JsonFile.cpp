#include "records/JsonFile.h"

#include "platform/Logging.h"
#include "records/FileStoreError.h"
#include "records/FileSystemCalls.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString temporaryMarker = QStringLiteral(".velmora-save-");

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString temporaryPathFor(const QString &path)
{
    const QFileInfo info(path);
    const QString suffix = QStringLiteral("%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + temporaryMarker + suffix;
}

// A folder that is not there is seldom the cause a person can act on: the
// nearest folder above it that is there tells why it could not be made.
int missingFolderCause(const QString &folder, int error)
{
    if (error != ENOENT)
        return error;
    QFileInfo missing(folder);
    while (!missing.exists() && !missing.isRoot())
        missing = QFileInfo(missing.absolutePath());
    if (missing.absoluteFilePath() == QFileInfo(folder).absoluteFilePath())
        return error;
    if (!missing.isDir())
        return ENOTDIR;
    if (::access(QFile::encodeName(missing.absoluteFilePath()).constData(), W_OK | X_OK) != 0)
        return errno;
    return error;
}

int writeAll(int fd, QByteArrayView bytes)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count = calls.write(fd, bytes.data() + written, static_cast<size_t>(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        // A regular file that takes nothing has no room left.
        if (count == 0)
            return ENOSPC;
        written += count;
    }
    return 0;
}

} // namespace

JsonFile::JsonFile(QString path, Writing writing)
    : m_path(std::move(path)),
      m_writing(writing)
{}

int JsonFile::syncFolder(const QString &folder)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const int fd = calls.open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = calls.fsync(fd);
    const int error = errno;
    calls.close(fd);
    return result == 0 ? 0 : error;
}

QString JsonFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

bool JsonFile::isTemporaryFileName(const QString &entry, const QString &storeName)
{
    static const QRegularExpression suffix(QStringLiteral("^[0-9a-f]{16}$"));
    const QString prefix = QLatin1Char('.') + storeName + temporaryMarker;
    return entry.startsWith(prefix) && suffix.match(QStringView(entry).mid(prefix.size())).hasMatch();
}

std::optional<QByteArray> JsonFile::readLocked()
{
    m_lastReadFailed = true;
    struct stat info {};
    const int fd = openRegularFile(info);
    if (fd < 0) {
        m_lastReadFailed = false;
        return std::nullopt;
    }
    const auto closeFile = qScopeGuard([fd] { FileSystemCalls::current().close(fd); });
    QByteArray bytes = readWhole(fd, info.st_size);
    m_lastReadFailed = false;
    return bytes;
}

std::optional<QByteArray> JsonFile::readRangeLocked(qint64 offset, qsizetype length)
{
    struct stat info {};
    const int fd = openRegularFile(info);
    if (fd < 0)
        return std::nullopt;
    const auto closeFile = qScopeGuard([fd] { FileSystemCalls::current().close(fd); });
    QByteArray bytes(length, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < length) {
        const qsizetype count = readChunk(fd, bytes.data() + size, length - size, offset + size);
        if (count == 0)
            break;
        size += count;
    }
    bytes.truncate(size);
    return bytes;
}

bool JsonFile::readPiecesLocked(const std::function<void(QByteArrayView)> &consume)
{
    m_lastReadFailed = true;
    struct stat info {};
    const int fd = openRegularFile(info);
    if (fd < 0) {
        m_lastReadFailed = false;
        return false;
    }
    const auto closeFile = qScopeGuard([fd] { FileSystemCalls::current().close(fd); });
    // Small enough to stay in the processor's cache, large enough for few calls.
    QByteArray buffer(qsizetype(1) << 20, Qt::Uninitialized);
    qint64 total = 0;
    while (const qsizetype count = readChunk(fd, buffer.data(), buffer.size(), -1)) {
        total += count;
        if (total > maximumFileSize)
            throw FileStoreError(QStringLiteral("The file “%1” is too large to be read.").arg(fileName()));
        consume(QByteArrayView(buffer).first(count));
    }
    m_lastReadFailed = false;
    return true;
}

qsizetype JsonFile::readChunk(int fd, char *buffer, qsizetype size, qint64 offset) const
{
    FileSystemCalls &calls = FileSystemCalls::current();
    while (true) {
        const ssize_t count = offset < 0 ? calls.read(fd, buffer, static_cast<size_t>(size))
                                         : calls.pread(fd, buffer, static_cast<size_t>(size), offset);
        if (count >= 0)
            return count;
        if (errno != EINTR)
            throwReadError(errno);
    }
}

int JsonFile::openRegularFile(struct stat &info)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray path = QFile::encodeName(m_path);
    const bool inPlace = m_writing == Writing::alsoInPlace;
    if ((inPlace ? calls.lstat(path.constData(), &info) : calls.stat(path.constData(), &info)) != 0) {
        const int error = errno;
        struct stat linkInfo {};
        if (error == ENOENT && calls.lstat(path.constData(), &linkInfo) != 0 && errno == ENOENT)
            return -1;
        throwReadError(error);
    }
    if (inPlace && !acceptLocked(info))
        return -1;
    // Only a regular file is read: a FIFO blocks its reader until a writer comes,
    // and a device may never end.
    checkRegularFile(info);
    const int fd =
        calls.open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (inPlace ? O_NOFOLLOW : 0));
    if (fd < 0)
        throwReadError(errno);
    auto closeFile = qScopeGuard([&calls, fd] { calls.close(fd); });
    // The path may have been replaced since the check above.
    if (calls.fstat(fd, &info) != 0)
        throwReadError(errno);
    if (!acceptLocked(info))
        return -1;
    checkRegularFile(info);
    closeFile.dismiss();
    return fd;
}

bool JsonFile::acceptLocked(const struct stat &info)
{
    const bool inPlace = m_writing == Writing::alsoInPlace;
    // Another user could change a file of theirs, or one a link here leads to,
    // whenever they like: its content is never taken.
    if (info.st_uid != ::getuid()) {
        qCCritical(lcPersistence, "Failed to load %s: it belongs to another user (uid %u)", qUtf8Printable(fileName()),
                   unsigned(info.st_uid));
    } else if (inPlace && !S_ISREG(info.st_mode)) {
        qCCritical(lcPersistence, "Failed to load %s: it isn’t a regular file", qUtf8Printable(fileName()));
    } else if (inPlace && info.st_nlink != 1) {
        qCCritical(lcPersistence, "Failed to load %s: it has another name (a hard link)", qUtf8Printable(fileName()));
    } else {
        return true;
    }
    m_refused = true;
    return false;
}

void JsonFile::setAsideRefusedLocked()
{
    if (m_refused)
        setAsideUnreadable();
}

void JsonFile::throwReadError(int error) const
{
    throw FileStoreError(QStringLiteral("The file “%1” couldn’t be read: %2").arg(fileName(), reasonOf(error)));
}

void JsonFile::throwSaveError(int error) const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    throw FileStoreError(QStringLiteral("The file “%1” couldn’t be saved in the folder “%2”: %3")
                             .arg(fileName(), folder, reasonOf(missingFolderCause(folder, error))));
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
    QByteArray bytes;
    try {
        bytes.resize(static_cast<qsizetype>(expectedSize) + 32);
    } catch (const std::bad_alloc &) {
        throwReadError(ENOMEM);
    }
    qsizetype size = 0;
    while (true) {
        if (size == bytes.size()) {
            if (size > maximumFileSize)
                throw FileStoreError(QStringLiteral("The file “%1” is too large to be read.").arg(fileName()));
            bytes.resize(std::min<qsizetype>(size * 2, maximumFileSize + 1));
        }
        const qsizetype count = readChunk(fd, bytes.data() + size, bytes.size() - size, -1);
        if (count == 0)
            break;
        size += count;
    }
    bytes.truncate(size);
    return bytes;
}

void JsonFile::writeLocked(const QByteArray &bytes)
{
    writeLocked([&bytes](const WriteSink &put) { put(bytes); });
}

void JsonFile::writeLocked(const std::function<void(const WriteSink &)> &produce)
{
    if (m_unreadable || m_refused)
        setAsideUnreadable();

    FileSystemCalls &calls = FileSystemCalls::current();
    QString temporary;
    int fd = -1;
    // The random name is new nearly always; O_EXCL never reuses or follows one that exists.
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temporary = temporaryPathFor(m_path);
        fd = calls.open(QFile::encodeName(temporary).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        if (fd < 0 && errno != EEXIST)
            throwSaveError(errno);
    }
    if (fd < 0)
        throwSaveError(EEXIST);
    const QByteArray temporaryPath = QFile::encodeName(temporary);
    auto removeTemporary = qScopeGuard([&calls, &fd, &temporaryPath] {
        if (fd >= 0)
            calls.close(fd);
        calls.unlink(temporaryPath.constData());
    });

    // Written and synced before the rename: after a crash the path holds the
    // old bytes or the new ones, never a file whose data never reached the disk.
    // Small pieces are gathered, so that a file made of many is not written in as many calls.
    constexpr qsizetype gathered = qsizetype(1) << 20;
    QByteArray pending;
    const auto flush = [&] {
        if (const int error = writeAll(fd, pending))
            throwSaveError(error);
        pending.truncate(0);
    };
    produce([&](QByteArrayView bytes) {
        if (pending.size() + bytes.size() <= gathered) {
            if (pending.isEmpty())
                pending.reserve(gathered);
            pending.append(bytes);
            return;
        }
        flush();
        if (bytes.size() >= gathered) {
            if (const int error = writeAll(fd, bytes))
                throwSaveError(error);
        } else {
            pending.append(bytes);
        }
    });
    flush();
    if (calls.fdatasync(fd) != 0)
        throwSaveError(errno);
    const int closed = calls.close(fd);
    fd = -1;
    if (closed != 0)
        throwSaveError(errno);
    if (calls.rename(temporaryPath.constData(), QFile::encodeName(m_path).constData()) != 0)
        throwSaveError(errno);
    removeTemporary.dismiss();

    // Until the folder is synced the rename itself may not survive a crash.
    if (const int error = syncFolder(QFileInfo(m_path).absolutePath())) {
        throw FileNotDurableError(
            QStringLiteral("The file “%1” couldn’t be saved safely: %2").arg(fileName(), reasonOf(error)));
    }
}

void JsonFile::setAsideUnreadable()
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info {};
    if (calls.lstat(path.constData(), &info) != 0) {
        if (errno != ENOENT)
            throwSaveError(errno);
        m_unreadable = m_refused = false;
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        m_unreadable = m_refused = false;
        return;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    const QString base = m_path + QStringLiteral(".unreadable-") + stamp;
    QString target;
    // A file appended to in place must leave the path at once. Any other keeps
    // its path until the atomic write that follows replaces it, so it never
    // goes missing in between. Only a file of our own is ours to filter;
    // another user's is kept as it is.
    const bool ours = info.st_uid == ::getuid();
    const Keeping keeping = m_writing == Writing::alsoInPlace ? Keeping::move
                            : m_asideCopyFilter && ours       ? Keeping::filteredCopy
                                                              : Keeping::link;
    int error = keepAside(keeping, base, target);
    // A file system without hard links, or one that refuses to link another user's file.
    if (error != 0 && keeping == Keeping::link)
        error = keepAside(Keeping::move, base, target);
    // Refuse to overwrite what could not be kept, or kept only for as long as
    // the folder's entries are not lost in a crash: the caller sees the failure.
    if (error != 0 || syncFolder(QFileInfo(m_path).absolutePath()) != 0) {
        throw FileStoreError(
            QStringLiteral("The unreadable file “%1” couldn’t be set aside before saving.").arg(fileName()));
    }
    m_unreadable = m_refused = false;
    qCCritical(lcPersistence, "Set aside unreadable %s as %s", qUtf8Printable(fileName()),
               qUtf8Printable(QFileInfo(target).fileName()));
}

int JsonFile::keepAside(Keeping keeping, const QString &base, QString &target)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray path = QFile::encodeName(m_path);
    int error = EEXIST;
    for (int suffix = 1; error == EEXIST && suffix < 1000; ++suffix) {
        target = suffix == 1 ? base : base + QLatin1Char('-') + QString::number(suffix);
        const QByteArray targetPath = QFile::encodeName(target);
        struct stat existing {};
        switch (keeping) {
        case Keeping::filteredCopy:
            error = writeFilteredCopy(targetPath);
            break;
        case Keeping::link:
            error = calls.link(path.constData(), targetPath.constData()) == 0 ? 0 : errno;
            break;
        case Keeping::move:
            // rename would replace a file of that name.
            if (calls.lstat(targetPath.constData(), &existing) == 0)
                error = EEXIST;
            else
                error = errno != ENOENT                                               ? errno
                        : calls.rename(path.constData(), targetPath.constData()) == 0 ? 0
                                                                                      : errno;
            break;
        }
    }
    return error;
}

int JsonFile::writeFilteredCopy(const QByteArray &target)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    QByteArray copy;
    try {
        // Nothing read (the file went, or is not ours) is no copy of it.
        const std::optional<QByteArray> bytes = readLocked();
        if (!bytes)
            return EIO;
        copy = m_asideCopyFilter(*bytes);
    } catch (const FileStoreError &) {
        return EIO;
    }
    const int fd =
        calls.open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, copy);
    if (error == 0 && calls.fdatasync(fd) != 0)
        error = errno;
    if (calls.close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        calls.unlink(target.constData());
    // EEXIST means "try another name" to the caller.
    return error == EEXIST ? EIO : error;
}
