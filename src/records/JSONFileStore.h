#pragma once

#include "platform/Logging.h"
#include "records/FileStoreError.h"
#include "records/JsonCodec.h"
#include "records/JsonFile.h"

#include <mutex>
#include <new>

// One JSON file holding one value, read and written whole under the store's lock.
template <typename T>
class JSONFileStore {
public:
    explicit JSONFileStore(QString path)
        : m_file(std::move(path))
    {}

    const QString &path() const { return m_file.path(); }
    JsonFile &file() { return m_file; }

    // The stored value, or `defaultValue` when the file is missing (silently)
    // or cannot be read or decoded (logged).
    T load(const T &defaultValue)
    {
        try {
            return loadForUpdate(defaultValue);
        } catch (const FileStoreError &error) {
            logLoadFailure(error.message());
            return defaultValue;
        }
    }

    // For an operation that writes back what it read: the stored value, or
    // `defaultValue` when the file is missing or its content does not decode
    // (logged; the file is then set aside by the next write). Throws
    // FileStoreError when the file could not be read at all, so that no write
    // replaces a file whose content is unknown.
    T loadForUpdate(const T &defaultValue)
    {
        QString damage;
        {
            std::lock_guard lock(m_file.mutex());
            std::optional<QByteArray> bytes = m_file.readLocked();
            if (!bytes)
                return defaultValue;
            try {
                T value = decodeJson<T>(std::move(*bytes));
                m_file.markReadable();
                return value;
            } catch (const json::DecodeError &error) {
                damage = error.message();
            } catch (const std::bad_alloc &) {
                m_file.setLastReadFailed();
                throw FileStoreError(QStringLiteral("The file “%1” couldn’t be read: there isn’t enough memory.")
                                         .arg(m_file.fileName()));
            }
            m_file.markUnreadable();
        }
        logLoadFailure(damage);
        return defaultValue;
    }

    // Replaces the file with `value`; throws FileStoreError, leaving the file as
    // it was. After a load that could not read the file, the value was built
    // without knowing what the file holds: the file is read again first, and
    // when that read fails too, nothing is written.
    void save(const T &value)
    {
        std::lock_guard lock(m_file.mutex());
        confirmReadableLocked();
        writeLocked(value);
    }

    // The check of `save` for a writer that bypasses it; the lock must be held.
    void confirmReadableLocked()
    {
        if (!m_file.lastReadFailed())
            return;
        std::optional<QByteArray> bytes = m_file.readLocked();
        if (!bytes)
            return;
        try {
            decodeJson<T>(std::move(*bytes));
            m_file.markReadable();
        } catch (const json::DecodeError &) {
            m_file.markUnreadable();
        }
    }

private:
    template <typename Element>
    void writeLocked(const QList<Element> &list)
    {
        // A long list is written as it is encoded, never held whole.
        m_file.writeLocked([&list](const JsonFile::WriteSink &put) { encodePrettyJsonPieces(list, put, put); });
    }
    template <typename Value>
    void writeLocked(const Value &value)
    {
        m_file.writeLocked(encodePrettyJson(value));
    }

    void logLoadFailure(const QString &failure) const
    {
        qCCritical(lcPersistence, "Failed to load %s: %s", qUtf8Printable(m_file.fileName()), qUtf8Printable(failure));
    }

    JsonFile m_file;
};
