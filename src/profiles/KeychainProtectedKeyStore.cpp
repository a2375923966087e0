#include "profiles/KeychainProtectedKeyStore.h"

#include "profiles/KeychainSecretStore.h"
#include "records/ProtectedPayloadEnvelope.h"
#include "records/ProtectedProfilesError.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <mutex>

namespace {

std::mutex &readOrCreateLock()
{
    static std::mutex lock;
    return lock;
}

SecretServiceClient client()
{
    return SecretServiceClient(KeychainSecretStore::serviceName);
}

// A dismissed keyring prompt is the user cancelling; every other keyring
// failure is an access failure carrying the keyring's code and wording.
[[noreturn]] void rethrowAsProtectedError(const KeychainError &error)
{
    if (error.errorCase() == KeychainError::Case::userDenied)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::authenticationCanceled);
    throw ProtectedProfilesError::keychainAccessDenied(error.status(), error.systemMessage());
}

std::optional<ProtectedPayloadCrypto> readStoredKey(const SecretServiceClient &keyring)
{
    std::optional<SensitiveBytes> stored;
    try {
        stored = keyring.lookup(ProtectedPayloadEnvelope::masterKeyAccount);
    } catch (const KeychainError &error) {
        rethrowAsProtectedError(error);
    }
    if (!stored)
        return std::nullopt;
    return ProtectedPayloadCrypto(stored->view()); // invalidKey unless 32 bytes
}

ProtectedPayloadCrypto loadOrCreate()
{
    const std::lock_guard lock(readOrCreateLock());
    const SecretServiceClient keyring = client();
    if (std::optional<ProtectedPayloadCrypto> existing = readStoredKey(keyring))
        return *existing;

    std::array<unsigned char, ProtectedPayloadCrypto::keySize> fresh {};
    const bool made = RAND_bytes(fresh.data(), static_cast<int>(fresh.size())) == 1;
    try {
        if (!made)
            throw ProtectedProfilesError(ProtectedProfilesError::Case::invalidKey);
        keyring.store(ProtectedPayloadEnvelope::masterKeyAccount,
                      QByteArrayView(reinterpret_cast<const char *>(fresh.data()), ProtectedPayloadCrypto::keySize),
                      SecretServiceClient::Content::binary, QStringLiteral("Velmora protected profiles key"));
    } catch (const KeychainError &error) {
        OPENSSL_cleanse(fresh.data(), fresh.size());
        rethrowAsProtectedError(error);
    } catch (...) {
        OPENSSL_cleanse(fresh.data(), fresh.size());
        throw;
    }
    OPENSSL_cleanse(fresh.data(), fresh.size());

    // Hand out what the keyring holds, not what was meant to be written.
    if (std::optional<ProtectedPayloadCrypto> stored = readStoredKey(keyring))
        return *stored;
    throw ProtectedProfilesError::keychainAccessDenied(0, QString());
}

} // namespace

KeychainProtectedKeyStore::KeychainProtectedKeyStore() = default;

QFuture<std::optional<ProtectedPayloadCrypto>> KeychainProtectedKeyStore::readMasterKey()
{
    return m_executor.run([] { return readStoredKey(client()); });
}

QFuture<ProtectedPayloadCrypto> KeychainProtectedKeyStore::loadOrCreateMasterKey()
{
    return m_executor.run([] { return loadOrCreate(); });
}
