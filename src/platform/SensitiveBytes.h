#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Bytes that must not linger in memory (a key, a secret's raw form). The
// buffer is never shared and is wiped when the holder goes away.
class SensitiveBytes {
public:
    SensitiveBytes() = default;
    explicit SensitiveBytes(QByteArrayView bytes);
    // Takes over the buffer; a buffer shared with others is copied instead,
    // since it cannot be wiped for them.
    explicit SensitiveBytes(QByteArray &&bytes);
    ~SensitiveBytes();
    SensitiveBytes(SensitiveBytes &&other) noexcept;
    SensitiveBytes &operator=(SensitiveBytes &&other) noexcept;
    SensitiveBytes(const SensitiveBytes &) = delete;
    SensitiveBytes &operator=(const SensitiveBytes &) = delete;

    QByteArrayView view() const { return m_bytes; }
    qsizetype size() const { return m_bytes.size(); }
    bool isEmpty() const { return m_bytes.isEmpty(); }

    // Overwrites `bytes` with zeros in place, if nobody else shares them.
    static void wipe(QByteArray &bytes);

private:
    QByteArray m_bytes;
};
