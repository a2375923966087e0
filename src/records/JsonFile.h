#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

struct stat;

// One data file, read and written whole. The owner holds `mutex()` around
// each read or write sequence. A file whose content does not decode (or
// decodes only in part) is kept byte for byte under "<name>.unreadable-<UTC>"
// by the first write after that finding, so nothing the user had is destroyed
// silently. A file that could not be read at all (an I/O error, no memory, no
// descriptor left) is not damage: it is never set aside, and a write that
// depends on its content must fail instead. A file of another user's, there
// or behind a link, is read as if nothing were there and set aside as it is.
class JsonFile {
public:
    // A file also appended to in place must be the only name of a regular
    // file of the user's own, never behind a link: otherwise the writes would
    // land in someone else's file, or block on a FIFO.
    enum class Writing { replacedWhole, alsoInPlace };
    explicit JsonFile(QString path, Writing writing = Writing::replacedWhole);

    const QString &path() const { return m_path; }
    QString fileName() const;
    std::mutex &mutex() { return m_mutex; }

    // Far above any file the stores write; a larger one is not read at all.
    static constexpr qint64 maximumFileSize = qint64(1) << 30;

    // Whether `entry`, a name in the file's folder, is a temporary file that a
    // write of the store file `storeName` made. Only this class makes such
    // names, so a start-up sweep matching them never takes a person's file.
    static bool isTemporaryFileName(const QString &entry, const QString &storeName);

    // nullopt when nothing exists at the path; throws FileStoreError, naming the
    // file and the cause, when the path exists but cannot be read (an I/O error,
    // a folder, a FIFO or a device, a file above the size bound, no permission).
    std::optional<QByteArray> readLocked();
    // Up to `length` bytes from `offset` (fewer where the file ends first);
    // nullopt when nothing exists at the path. Throws as readLocked does. For
    // a piece whose bytes the caller can check: the file may have changed.
    std::optional<QByteArray> readRangeLocked(qint64 offset, qsizetype length);
    // Reads the whole file through one small buffer, handing `consume` each
    // piece in order: for a check of the content that keeps none of it. False
    // when nothing exists at the path; throws as readLocked does.
    bool readPiecesLocked(const std::function<void(QByteArrayView)> &consume);
    // Whether the file open as `info` may be read and written. When not, logs
    // why; the file is then left unread and unwritten, and the next write (or
    // setAsideRefusedLocked) moves it aside as it is.
    bool acceptLocked(const struct stat &info);
    // Moves a file refused above aside, leaving the path free; throws
    // FileStoreError when it cannot.
    void setAsideRefusedLocked();

    // Syncs the folder so that a new, renamed or removed name survives a crash; 0 or the errno.
    static int syncFolder(const QString &folder);

    // Whether the last read through this object failed (not merely found nothing).
    bool lastReadFailed() const { return m_lastReadFailed; }
    void setLastReadFailed() { m_lastReadFailed = true; }

    // Replaces the file atomically: a temporary file in the same folder is
    // written and synced, renamed over the file, and the folder is synced.
    // Throws FileStoreError on any failure; a failure before the rename leaves
    // the previous file and no temporary file, one after it (the folder sync)
    // leaves the new file whose durability is unknown, reported all the same.
    void writeLocked(const QByteArray &bytes);
    // As above, for the bytes `produce` hands the sink, in order: a large file
    // is written as it is made, never held whole. Whatever `produce` throws
    // ends the write, leaving the previous file and no temporary file.
    using WriteSink = std::function<void(QByteArrayView)>;
    void writeLocked(const std::function<void(const WriteSink &)> &produce);

    // The file exists but its content could not be decoded: keep it aside at the next write.
    void markUnreadable() { m_unreadable = true; }
    void markReadable() { m_unreadable = false; }
    bool isMarkedUnreadable() const { return m_unreadable; }
    // What an unreadable file's aside copy keeps: by default its very bytes;
    // with a filter, what it makes of them (say, the file with values that
    // must not stay in clear masked), written as a new file.
    using AsideCopyFilter = std::function<QByteArray(const QByteArray &)>;
    void setAsideCopyFilter(AsideCopyFilter filter) { m_asideCopyFilter = std::move(filter); }

private:
    // The open descriptor of the regular file at the path; -1 when nothing is there.
    int openRegularFile(struct stat &info);
    void checkRegularFile(const struct stat &info) const;
    // One read into `buffer` (at `offset`, or on from the file position when
    // it is negative); 0 at the end of the file. Throws on an error.
    qsizetype readChunk(int fd, char *buffer, qsizetype size, qint64 offset) const;
    QByteArray readWhole(int fd, qint64 expectedSize) const;
    void setAsideUnreadable();
    enum class Keeping { link, move, filteredCopy };
    // Keeps the file under a new aside name (`target` is the last one tried); 0 or the errno.
    int keepAside(Keeping keeping, const QString &base, QString &target);
    // Writes the filtered aside copy as `target`, a new name; 0 or the errno.
    int writeFilteredCopy(const QByteArray &target);
    [[noreturn]] void throwReadError(int error) const;
    [[noreturn]] void throwSaveError(int error) const;

    QString m_path;
    Writing m_writing;
    std::mutex m_mutex;
    bool m_unreadable = false;
    bool m_refused = false; // a file not ours to use was found at the path
    bool m_lastReadFailed = false;
    AsideCopyFilter m_asideCopyFilter;
};
