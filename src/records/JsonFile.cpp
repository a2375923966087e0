#include "records/JsonFile.h"

#include "platform/Logging.h"
#include "records/FileStoreError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
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

JsonFile::JsonFile(QString path) : m_path(std::move(path)) {}

QString JsonFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

std::optional<QByteArray> JsonFile::readLocked() const
{
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    if (info.isDir())
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be opened because it is a folder.").arg(fileName()));
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be opened: %2").arg(fileName(), file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw FileStoreError(QStringLiteral("The file “%1” couldn’t be read: %2").arg(fileName(), file.errorString()));
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
    const QFileInfo info(m_path);
    if (!info.exists() || info.isDir()) {
        m_unreadable = false;
        return;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    QString target = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int suffix = 2; QFileInfo::exists(target); ++suffix)
        target = m_path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(suffix);
    if (!QFile::rename(m_path, target)) {
        // Refuse to overwrite what could not be kept: the caller sees the failure.
        throw FileStoreError(QStringLiteral("The unreadable file “%1” couldn’t be set aside before saving.").arg(fileName()));
    }
    syncFolder(info.absolutePath());
    m_unreadable = false;
    qCCritical(lcPersistence, "Set aside unreadable %s as %s", qUtf8Printable(fileName()),
               qUtf8Printable(QFileInfo(target).fileName()));
}
