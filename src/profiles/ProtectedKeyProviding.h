#pragma once

#include "profiles/ProtectedPayloadCrypto.h"

#include <QFuture>

// Where the lock manager gets the master key after the user has
// authenticated. The keyring work happens off the main thread; the future
// carries the key or a ProtectedProfilesError.
class ProtectedKeyProviding {
public:
    virtual ~ProtectedKeyProviding() = default;

    // The master key, read from the keyring or, when there is none yet, made
    // there from 32 random bytes.
    virtual QFuture<ProtectedPayloadCrypto> loadOrCreateMasterKey() = 0;
};
