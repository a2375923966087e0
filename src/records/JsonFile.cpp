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

// 0 on success, else the errno of the failing call.
int syncFolder(const QString &folder)
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

JsonFile::JsonFile(QString path)
    : m_path(std::move(path))
{}

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
    if (calls.stat(path.constData(), &info) != 0) {
        const int error = errno;
        struct stat linkInfo {};
        if (error == ENOENT && calls.lstat(path.constData(), &linkInfo) != 0 && errno == ENOENT)
            return -1;
        throwReadError(error);
    }
    // Only a regular file is read: a FIFO blocks its reader until a writer comes,
    // and a device may never end.
    checkRegularFile(info);
    const int fd = calls.open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throwReadError(errno);
    auto closeFile = qScopeGuard([&calls, fd] { calls.close(fd); });
    // The path may have been replaced since the check above.
    if (calls.fstat(fd, &info) != 0)
        throwReadError(errno);
    checkRegularFile(info);
    // Another user could change a file of theirs, or one a link here leads to,
    // whenever they like: its content is never taken, and the next write keeps
    // it aside and puts a file of our own in its place.
    if (info.st_uid != ::getuid()) {
        m_foreign = true;
        qCCritical(lcPersistence, "Failed to load %s: it belongs to another user (uid %u)", qUtf8Printable(fileName()),
                   unsigned(info.st_uid));
        return -1;
    }
    closeFile.dismiss();
    return fd;
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
    if (m_unreadable || m_foreign)
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
        m_unreadable = m_foreign = false;
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        m_unreadable = m_foreign = false;
        return;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    const QString base = m_path + QStringLiteral(".unreadable-") + stamp;
    QString target = base;
    bool kept = false;
    // A second name for the same bytes: the path itself is replaced only by the
    // atomic write that follows, so it never goes missing in between.
    for (int suffix = 2; suffix < 1000; ++suffix) {
        const QByteArray targetPath = QFile::encodeName(target);
        const int error = m_asideCopyFilter                                           ? writeFilteredCopy(targetPath)
                          : calls.link(path.constData(), targetPath.constData()) == 0 ? 0
                                                                                      : errno;
        if (error == 0) {
            kept = true;
            break;
        }
        if (error != EEXIST)
            break;
        target = base + QLatin1Char('-') + QString::number(suffix);
    }
    // A file system without hard links: move the file aside instead.
    struct stat targetInfo {};
    if (!kept && !m_asideCopyFilter && calls.lstat(QFile::encodeName(target).constData(), &targetInfo) != 0
        && errno == ENOENT && calls.rename(path.constData(), QFile::encodeName(target).constData()) == 0)
        kept = true;
    // Refuse to overwrite what could not be kept, or kept only for as long as
    // the folder's entries are not lost in a crash: the caller sees the failure.
    if (!kept || syncFolder(QFileInfo(m_path).absolutePath()) != 0) {
        throw FileStoreError(
            QStringLiteral("The unreadable file “%1” couldn’t be set aside before saving.").arg(fileName()));
    }
    m_unreadable = m_foreign = false;
    qCCritical(lcPersistence, "Set aside unreadable %s as %s", qUtf8Printable(fileName()),
               qUtf8Printable(QFileInfo(target).fileName()));
}

int JsonFile::writeFilteredCopy(const QByteArray &target)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    QByteArray copy;
    try {
        const std::optional<QByteArray> bytes = readLocked();
        copy = m_asideCopyFilter(bytes.value_or(QByteArray()));
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
