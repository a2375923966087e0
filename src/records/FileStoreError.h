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
