#pragma once

#include <QString>

#include <stdexcept>

// A file could not be read or written. The message is meant for a person.
class FileStoreError : public std::runtime_error {
public:
    explicit FileStoreError(const QString &message)
        : std::runtime_error(message.toStdString()),
          m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The new file is in place, but its folder could not be synced, so a crash may
// still bring the previous one back. Reported as a failed save all the same;
// callers that keep something else in step with the file (keyring items) keep
// it in step with the new file.
class FileNotDurableError : public FileStoreError {
public:
    using FileStoreError::FileStoreError;
};
