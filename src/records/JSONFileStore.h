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
    // or unreadable (logged).
    T load(const T &defaultValue)
    {
        QString failure;
        {
            std::lock_guard lock(m_file.mutex());
            try {
                std::optional<QByteArray> bytes = m_file.readLocked();
                if (!bytes)
                    return defaultValue;
                T value = decodeJson<T>(std::move(*bytes));
                m_file.markReadable();
                return value;
            } catch (const json::DecodeError &error) {
                failure = error.message();
            } catch (const FileStoreError &error) {
                failure = error.message();
            } catch (const std::bad_alloc &) {
                failure = QStringLiteral("There isn’t enough memory to read it.");
            }
            m_file.markUnreadable();
        }
        qCCritical(lcPersistence, "Failed to load %s: %s", qUtf8Printable(m_file.fileName()), qUtf8Printable(failure));
        return defaultValue;
    }

    // Replaces the file with `value`; throws FileStoreError, leaving the file as it was.
    void save(const T &value)
    {
        std::lock_guard lock(m_file.mutex());
        m_file.writeLocked(encodePrettyJson(value));
    }

private:
    JsonFile m_file;
};
