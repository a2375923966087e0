#include "profiles/ProtectedPayloadCrypto.h"

#include "records/ProtectedProfilesError.h"

#include <openssl/crypto.h>

#include <algorithm>

ProtectedPayloadCrypto::ProtectedPayloadCrypto(QByteArrayView keyData)
{
    if (keyData.size() != keySize)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::invalidKey);
    std::copy(keyData.begin(), keyData.end(), m_key.begin());
}

ProtectedPayloadCrypto::~ProtectedPayloadCrypto()
{
    OPENSSL_cleanse(m_key.data(), m_key.size());
}

bool operator==(const ProtectedPayloadCrypto &a, const ProtectedPayloadCrypto &b)
{
    return CRYPTO_memcmp(a.m_key.data(), b.m_key.data(), ProtectedPayloadCrypto::keySize) == 0;
}
