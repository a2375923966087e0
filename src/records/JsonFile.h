#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

// One data file, read and written whole. The owner holds `mutex()` around
// each read or write sequence. A file found unreadable is set aside, not
// overwritten, by the first write after that finding, so nothing the user
// had is destroyed silently.
class JsonFile {
public:
    explicit JsonFile(QString path);

    const QString &path() const { return m_path; }
    QString fileName() const;
    std::mutex &mutex() { return m_mutex; }

    // nullopt when nothing exists at the path; throws FileStoreError when the
    // path exists but cannot be read (a folder, no permission).
    std::optional<QByteArray> readLocked() const;
    // Replaces the file atomically and syncs it and its folder; throws
    // FileStoreError and leaves the previous file untouched on failure.
    void writeLocked(const QByteArray &bytes);

    // The file exists but could not be read or decoded: keep it aside at the next write.
    void markUnreadable() { m_unreadable = true; }
    void markReadable() { m_unreadable = false; }

private:
    void setAsideUnreadable();

    QString m_path;
    std::mutex m_mutex;
    bool m_unreadable = false;
};
