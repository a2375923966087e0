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
             + QStringLiteral("-unwritten.jsonl"))
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
    const auto fail = [this](int error) {
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be saved: %2")
                                 .arg(m_file.fileName(), QString::fromLocal8Bit(std::strerror(error))));
    };
    FileSystemCalls &calls = FileSystemCalls::current();
    std::lock_guard lock(m_file.mutex());
    const QByteArray path = QFile::encodeName(m_file.path());
    const int fd = calls.open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        fail(errno);
    const auto closeFile = qScopeGuard([&calls, fd] { calls.close(fd); });
    struct stat info {};
    if (calls.fstat(fd, &info) != 0)
        fail(errno);
    // A failed append takes back what it wrote; should that fail too (or the
    // process die), the next one starts on a line of its own, so only the
    // torn line is lost.
    auto takeBack = qScopeGuard([&] {
        if (info.st_size == 0)
            calls.unlink(path.constData());
        else if (::ftruncate(fd, info.st_size) != 0)
            qCWarning(lcPersistence, "Couldn’t take back a failed append to %s", qUtf8Printable(m_file.fileName()));
    });
    char last = '\n';
    if (info.st_size > 0 && calls.pread(fd, &last, 1, info.st_size - 1) != 1)
        fail(errno);
    if (last != '\n')
        lines.prepend('\n');
    for (qsizetype written = 0; written < lines.size();) {
        const ssize_t count = calls.write(fd, lines.constData() + written, static_cast<size_t>(lines.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            fail(count == 0 ? ENOSPC : errno);
        written += count;
    }
    if (calls.fsync(fd) != 0)
        fail(errno);
    takeBack.dismiss();
    // A new file's name must survive a crash as well.
    if (info.st_size == 0) {
        const int folder = calls.open(QFile::encodeName(QFileInfo(m_file.path()).absolutePath()).constData(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0)
            fail(errno);
        const int synced = calls.fsync(folder);
        const int error = errno;
        calls.close(folder);
        if (synced != 0)
            fail(error);
    }
}

void UnwrittenRunsFile::edit(const std::function<bool(QList<ServiceRunRecord> &)> &edit)
{
    QList<ServiceRunRecord> kept = runs();
    if (kept.isEmpty() || !edit(kept))
        return;
    if (kept.isEmpty()) {
        remove();
        return;
    }
    QByteArray lines;
    for (const ServiceRunRecord &run : std::as_const(kept))
        lines += lineOf(run);
    std::lock_guard lock(m_file.mutex());
    m_file.writeLocked(lines);
}

void UnwrittenRunsFile::remove()
{
    std::lock_guard lock(m_file.mutex());
    const QByteArray path = QFile::encodeName(m_file.path());
    if (FileSystemCalls::current().unlink(path.constData()) != 0 && errno != ENOENT)
        qCWarning(lcPersistence, "Couldn’t remove %s: %s", qUtf8Printable(m_file.fileName()), std::strerror(errno));
}
