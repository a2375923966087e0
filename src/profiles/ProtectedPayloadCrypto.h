#pragma once

#include <QByteArrayView>

#include <array>

// The master key of protected data, in memory only: 32 bytes, wiped when
// each copy goes away. The lock manager holds one while unlocked and hands
// out copies to whoever seals or opens.
class ProtectedPayloadCrypto {
public:
    static constexpr qsizetype keySize = 32;

    // Throws ProtectedProfilesError invalidKey unless `keyData` is exactly 32 bytes.
    explicit ProtectedPayloadCrypto(QByteArrayView keyData);
    ProtectedPayloadCrypto(const ProtectedPayloadCrypto &) = default;
    ProtectedPayloadCrypto &operator=(const ProtectedPayloadCrypto &) = default;
    ~ProtectedPayloadCrypto();

    QByteArrayView keyData() const { return {m_key.data(), keySize}; }
    const unsigned char *bytes() const { return m_key.data(); }

    // Constant-time comparison of the key bytes.
    friend bool operator==(const ProtectedPayloadCrypto &a, const ProtectedPayloadCrypto &b);

private:
    std::array<unsigned char, keySize> m_key {};
};
