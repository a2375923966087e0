#include "support/FakeProtectedKeyProvider.h"

#include <array>
#include <exception>

ProtectedPayloadCrypto FakeProtectedKeyProvider::sampleKey(unsigned char firstByte)
{
    std::array<char, ProtectedPayloadCrypto::keySize> bytes {};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(firstByte + i);
    return ProtectedPayloadCrypto(QByteArrayView(bytes.data(), ProtectedPayloadCrypto::keySize));
}

FakeProtectedKeyProvider::FakeProtectedKeyProvider(const ProtectedPayloadCrypto &key)
    : m_key(key)
{}

QFuture<ProtectedPayloadCrypto> FakeProtectedKeyProvider::loadOrCreateMasterKey()
{
    ++m_requests;
    auto promise = std::make_shared<QPromise<ProtectedPayloadCrypto>>();
    QFuture<ProtectedPayloadCrypto> future = promise->future();
    promise->start();
    if (m_holding)
        m_pending.append(promise);
    else
        answer(*promise);
    return future;
}

void FakeProtectedKeyProvider::releasePending()
{
    const auto pending = std::exchange(m_pending, {});
    for (const auto &promise : pending)
        answer(*promise);
}

void FakeProtectedKeyProvider::answer(QPromise<ProtectedPayloadCrypto> &promise) const
{
    if (m_failure)
        promise.setException(std::make_exception_ptr(*m_failure));
    else
        promise.addResult(m_key);
    promise.finish();
}
