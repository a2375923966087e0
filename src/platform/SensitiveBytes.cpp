#include "platform/SensitiveBytes.h"

#include <openssl/crypto.h>

SensitiveBytes::SensitiveBytes(QByteArrayView bytes)
    : m_bytes(bytes.size(), Qt::Uninitialized)
{
    if (!bytes.isEmpty())
        std::copy(bytes.begin(), bytes.end(), m_bytes.begin());
}

SensitiveBytes::SensitiveBytes(QByteArray &&bytes)
{
    if (bytes.isDetached())
        m_bytes = std::move(bytes);
    else
        *this = SensitiveBytes(QByteArrayView(bytes));
    bytes = QByteArray();
}

SensitiveBytes::~SensitiveBytes()
{
    wipe(m_bytes);
}

SensitiveBytes::SensitiveBytes(SensitiveBytes &&other) noexcept
    : m_bytes(std::move(other.m_bytes))
{
    other.m_bytes = QByteArray();
}

SensitiveBytes &SensitiveBytes::operator=(SensitiveBytes &&other) noexcept
{
    if (this != &other) {
        wipe(m_bytes);
        m_bytes = std::move(other.m_bytes);
        other.m_bytes = QByteArray();
    }
    return *this;
}

void SensitiveBytes::wipe(QByteArray &bytes)
{
    // data() would detach a shared buffer and wipe only the fresh copy, so a
    // shared buffer is left to its other holders.
    if (!bytes.isEmpty() && !bytes.isDetached())
        return;
    if (!bytes.isEmpty())
        OPENSSL_cleanse(bytes.data(), static_cast<size_t>(bytes.size()));
}
