#include "platform/SensitiveBytes.h"

#include <QByteArray>

#include <openssl/crypto.h>

#include <algorithm>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

SensitiveBytes::SensitiveBytes(qsizetype size)
{
    if (size <= 0)
        return;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t mapped = (size_t(size) + page - 1) / page * page;
    void *memory = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    // Kept out of core dumps, and not copied into a child forked meanwhile.
    ::madvise(memory, mapped, MADV_DONTDUMP);
    ::madvise(memory, mapped, MADV_DONTFORK);
    m_data = static_cast<char *>(memory);
    m_size = size;
    m_mapped = mapped;
}

SensitiveBytes::SensitiveBytes(QByteArrayView bytes)
    : SensitiveBytes(bytes.size())
{
    if (!bytes.isEmpty())
        std::copy(bytes.begin(), bytes.end(), m_data);
}

SensitiveBytes::SensitiveBytes(QByteArray &&bytes)
    : SensitiveBytes(QByteArrayView(bytes))
{
    wipe(bytes);
    bytes = QByteArray();
}

SensitiveBytes::~SensitiveBytes()
{
    release();
}

SensitiveBytes::SensitiveBytes(SensitiveBytes &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0))
{}

SensitiveBytes &SensitiveBytes::operator=(SensitiveBytes &&other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

void SensitiveBytes::release() noexcept
{
    if (!m_data)
        return;
    OPENSSL_cleanse(m_data, m_mapped);
    ::munmap(m_data, m_mapped);
    m_data = nullptr;
    m_size = 0;
    m_mapped = 0;
}

SensitiveBytes SensitiveBytes::joined(std::initializer_list<QByteArrayView> parts)
{
    qsizetype size = 0;
    for (QByteArrayView part : parts)
        size += part.size();
    SensitiveBytes bytes(size);
    char *next = bytes.m_data;
    for (QByteArrayView part : parts)
        next = std::copy(part.begin(), part.end(), next);
    return bytes;
}

SensitiveBytes SensitiveBytes::fromText(QString &&text)
{
    QByteArray utf8 = text.toUtf8();
    wipe(text);
    text = QString();
    return SensitiveBytes(std::move(utf8));
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

void SensitiveBytes::wipe(QString &text)
{
    if (!text.isEmpty() && !text.isDetached())
        return;
    if (!text.isEmpty())
        OPENSSL_cleanse(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
}
