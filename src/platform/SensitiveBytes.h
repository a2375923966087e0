#pragma once

#include <QByteArrayView>
#include <QString>

#include <initializer_list>
#include <memory>

// Bytes that must not linger in memory (a key, a password, a secret's raw
// form). They live in pages of their own that core dumps leave out, are
// never shared, and are wiped when the holder goes away.
class SensitiveBytes {
public:
    SensitiveBytes() = default;
    explicit SensitiveBytes(QByteArrayView bytes);
    // Takes the bytes and wipes `bytes`, unless its buffer is shared with
    // others, who keep it.
    explicit SensitiveBytes(QByteArray &&bytes);
    ~SensitiveBytes();
    SensitiveBytes(SensitiveBytes &&other) noexcept;
    SensitiveBytes &operator=(SensitiveBytes &&other) noexcept;
    SensitiveBytes(const SensitiveBytes &) = delete;
    SensitiveBytes &operator=(const SensitiveBytes &) = delete;

    // The parts one after the other, with no copy of the whole left elsewhere.
    static SensitiveBytes joined(std::initializer_list<QByteArrayView> parts);
    // The text as UTF-8; the text's own buffer is wiped too, unless shared.
    static SensitiveBytes fromText(QString &&text);

    QByteArrayView view() const { return {m_data, m_size}; }
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // Overwrites `bytes` with zeros in place, if nobody else shares them.
    static void wipe(QByteArray &bytes);
    static void wipe(QString &text);

private:
    explicit SensitiveBytes(qsizetype size);
    void release() noexcept;

    char *m_data = nullptr;
    qsizetype m_size = 0;
    size_t m_mapped = 0;
};

// One password handed from where it was typed to where it is used, wiped when
// the last holder lets it go.
using SharedSensitiveBytes = std::shared_ptr<const SensitiveBytes>;
