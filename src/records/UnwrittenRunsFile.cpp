#include "records/UnwrittenRunsFile.h"

#include "platform/Logging.h"
#include "records/FileStoreError.h"
#include "records/FileSystemCalls.h"
#include "records/UserPerceivedText.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray lineOf(ServiceRunRecord record)
{
    redactSecretEnvironmentEntriesInPlace(record.environment);
    if (record.output.isHeld())
        record.output =
            UserPerceivedText::lastCharacters(record.output.text(), ServiceRunRecord::maximumOutputCharacters);
    json::Document document;
    return json::serializeCompact(record.toJson(document.GetAllocator())) + '\n';
}

} // namespace

UnwrittenRunsFile::UnwrittenRunsFile(const QString &historyPath)
    : m_file(QFileInfo(historyPath).absolutePath() + QLatin1Char('/') + QFileInfo(historyPath).completeBaseName()
                 + QStringLiteral("-unwritten.jsonl"),
             JsonFile::Writing::alsoInPlace)
{}

QList<ServiceRunRecord> UnwrittenRunsFile::runs()
{
    std::optional<QByteArray> bytes;
    {
        std::lock_guard lock(m_file.mutex());
        bytes = m_file.readLocked();
    }
    if (!bytes)
        return {};
    QList<ServiceRunRecord> runs;
    QHash<QUuid, qsizetype> positions;
    qsizetype skipped = 0;
    for (const QByteArray &line : bytes->split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        try {
            ServiceRunRecord run = ServiceRunRecord::fromJson(json::parse(line).root());
            if (const auto found = positions.constFind(run.id); found != positions.constEnd()) {
                runs[*found] = std::move(run);
            } else {
                positions.insert(run.id, runs.size());
                runs.append(std::move(run));
            }
        } catch (const json::DecodeError &) {
            skipped += line.size();
        }
    }
    if (skipped > 0)
        qCCritical(lcPersistence, "Skipped %lld bytes of %s that are no run (a write cut short)",
                   static_cast<long long>(skipped), qUtf8Printable(m_file.fileName()));
    return runs;
}

void UnwrittenRunsFile::append(const QList<ServiceRunRecord> &runs)
{
    if (runs.isEmpty())
        return;
    QByteArray lines;
    for (const ServiceRunRecord &run : runs)
        lines += lineOf(run);
    FileSystemCalls &calls = FileSystemCalls::current();
    std::lock_guard lock(m_file.mutex());
    const QByteArray path = QFile::encodeName(m_file.path());
    struct stat info {};
    const int fd = openOwnFile(info);
    const auto closeFile = qScopeGuard([&calls, fd] { calls.close(fd); });
    // A failed append takes back what it wrote; should that fail too (or the
    // process die), the next one starts on a line of its own, so only the
    // torn line is lost.
    auto takeBack = qScopeGuard([&] {
        struct stat named {};
        if (calls.ftruncate(fd, info.st_size) != 0)
            qCWarning(lcPersistence, "Couldn’t take back a failed append to %s", qUtf8Printable(m_file.fileName()));
        else if (info.st_size == 0 && calls.lstat(path.constData(), &named) == 0 && named.st_dev == info.st_dev
                 && named.st_ino == info.st_ino)
            calls.unlink(path.constData());
    });
    char last = '\n';
    if (info.st_size > 0 && calls.pread(fd, &last, 1, info.st_size - 1) != 1)
        throwSaveError(errno);
    const qsizetype start = last == '\n' ? 0 : 1;
    if (start > 0)
        lines.prepend('\n');
    qsizetype written = 0;
    int error = 0;
    while (written < lines.size()) {
        const ssize_t count = calls.write(fd, lines.constData() + written, static_cast<size_t>(lines.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = count == 0 ? ENOSPC : errno;
            break;
        }
        written += count;
    }
    // The runs that fit are kept: a short write is cut back to its last whole line.
    const qsizetype whole = error == 0 ? written : QByteArrayView(lines).first(written).lastIndexOf('\n') + 1;
    if (whole <= start)
        throwSaveError(error);
    if (whole < written && calls.ftruncate(fd, info.st_size + whole) != 0)
        throwSaveError(errno);
    if (calls.fsync(fd) != 0)
        throwSaveError(errno);
    takeBack.dismiss();
    // A new file's name must survive a crash as well.
    if (info.st_size == 0) {
        if (const int synced = JsonFile::syncFolder(QFileInfo(m_file.path()).absolutePath()))
            throwSaveError(synced);
    }
    if (error != 0)
        throwSaveError(error);
}

int UnwrittenRunsFile::openOwnFile(struct stat &info)
{
    FileSystemCalls &calls = FileSystemCalls::current();
    const QByteArray path = QFile::encodeName(m_file.path());
    // Never a FIFO's blocking open, never through a link.
    const int flags = O_RDWR | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    m_file.setAsideRefusedLocked();
    // A file that is not ours is moved aside and a new one made, which a
    // second round opens; a third allows for one made meanwhile.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = calls.open(path.constData(), flags);
        if (fd < 0 && errno == ENOENT)
            fd = calls.open(path.constData(), flags | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            const int error = errno;
            if (error == EEXIST)
                continue;
            // A link, a socket or another user's file may refuse the open by itself.
            struct stat found {};
            if (calls.lstat(path.constData(), &found) != 0 || m_file.acceptLocked(found))
                throwSaveError(error);
            m_file.setAsideRefusedLocked();
            continue;
        }
        auto closeFile = qScopeGuard([&calls, fd] { calls.close(fd); });
        if (calls.fstat(fd, &info) != 0)
            throwSaveError(errno);
        if (m_file.acceptLocked(info)) {
            closeFile.dismiss();
            return fd;
        }
        closeFile.dismiss();
        calls.close(fd);
        m_file.setAsideRefusedLocked();
    }
    throwSaveError(EEXIST);
}

void UnwrittenRunsFile::throwSaveError(int error) const
{
    throw FileStoreError(QStringLiteral("The file “%1” couldn’t be saved: %2")
                             .arg(m_file.fileName(), QString::fromLocal8Bit(std::strerror(error))));
}

void UnwrittenRunsFile::edit(const std::function<bool(QList<ServiceRunRecord> &)> &edit)
{
    QList<ServiceRunRecord> kept = runs();
    if (kept.isEmpty() || !edit(kept))
        return;
    if (kept.isEmpty()) {
        // Left there, the runs taken out would be folded back by the next write.
        if (const int error = removeFile())
            throw FileStoreError(QStringLiteral("The file “%1” couldn’t be removed: %2")
                                     .arg(m_file.fileName(), QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    QByteArray lines;
    for (const ServiceRunRecord &run : std::as_const(kept))
        lines += lineOf(run);
    std::lock_guard lock(m_file.mutex());
    m_file.writeLocked(lines);
}

bool UnwrittenRunsFile::remove()
{
    const int error = removeFile();
    if (error != 0)
        qCWarning(lcPersistence, "Couldn’t remove %s: %s", qUtf8Printable(m_file.fileName()), std::strerror(error));
    return error == 0;
}

int UnwrittenRunsFile::removeFile()
{
    FileSystemCalls &calls = FileSystemCalls::current();
    std::lock_guard lock(m_file.mutex());
    const QByteArray path = QFile::encodeName(m_file.path());
    struct stat info {};
    int error = 0;
    if (calls.lstat(path.constData(), &info) != 0) {
        error = errno == ENOENT ? 0 : errno;
    } else if (m_file.acceptLocked(info)) {
        // Were the name to come back after a crash, so would its runs.
        if (calls.unlink(path.constData()) != 0)
            error = errno;
        else
            error = JsonFile::syncFolder(QFileInfo(m_file.path()).absolutePath());
    }
    // Anything else there now is not the file the runs came from: it is left alone.
    return error;
}
