#pragma once

#include "platform/SecretServiceClient.h"
#include "profiles/ProtectedKeyProviding.h"
#include "records/SerialExecutor.h"

#include <optional>

// The master key of protected data as one binary keyring item: service
// "com.tolvenix.Velmora", account "protected-profiles.master-key.v1", the 32
// raw key bytes. The password prompt of the lock manager guards every read
// inside the application; the keyring's own unlock guards it outside.
//
// Reading and creating run on the store's own thread. Within the process,
// read-or-create is one step under a lock shared by every instance, so two
// first unlocks that overlap cannot each make a key (the second would replace
// the first and leave whatever was sealed under it unreadable); and a new key
// is read back after it is stored, so the key handed out is the stored one.
class KeychainProtectedKeyStore final : public ProtectedKeyProviding {
public:
    KeychainProtectedKeyStore();

    // The stored key, or none when no item exists. Fails with
    // authenticationCanceled when the keyring's unlock prompt was dismissed,
    // invalidKey for an item that is not 32 bytes, keychainAccessDenied for
    // any other keyring failure.
    QFuture<std::optional<ProtectedPayloadCrypto>> readMasterKey();
    QFuture<ProtectedPayloadCrypto> loadOrCreateMasterKey() override;

private:
    SerialExecutor m_executor;
};
