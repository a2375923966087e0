#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

struct stat;

// One data file, read and written whole. The owner holds `mutex()` around
// each read or write sequence. A file found unreadable (or damaged in part) is
// kept byte for byte under "<name>.unreadable-<UTC>" by the first write after
// that finding, so nothing the user had is destroyed silently.
class JsonFile {
public:
    explicit JsonFile(QString path);

    const QString &path() const { return m_path; }
    QString fileName() const;
    std::mutex &mutex() { return m_mutex; }

    // Far above any file the stores write; a larger one is not read at all.
    static constexpr qint64 maximumFileSize = qint64(1) << 30;

    // nullopt when nothing exists at the path; throws FileStoreError when the
    // path exists but cannot be read (a folder, a FIFO or a device, a file above
    // the size bound, no permission).
    std::optional<QByteArray> readLocked() const;
    // Replaces the file atomically and syncs it and its folder; throws
    // FileStoreError and leaves the previous file untouched on failure.
    void writeLocked(const QByteArray &bytes);

    // The file exists but could not be read or decoded: keep it aside at the next write.
    void markUnreadable() { m_unreadable = true; }
    void markReadable() { m_unreadable = false; }

private:
    void checkRegularFile(const struct stat &info) const;
    QByteArray readWhole(int fd, qint64 expectedSize) const;
    void setAsideUnreadable();

    QString m_path;
    std::mutex m_mutex;
    bool m_unreadable = false;
};
