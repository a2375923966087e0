#pragma once

#include "profiles/EnvironmentProfileClearPayload.h"
#include "records/PersistedVersionedRecord.h"

// One profile as environments.json stores it: the profile's identity and
// dates in the clear, its variables either in `clearPayload` (not protected)
// or sealed in `encryptedPayload` (protected).
struct PersistedEnvironmentProfileRecord
    : PersistedVersionedRecord<PersistedEnvironmentProfileRecord, EnvironmentProfileClearPayload> {
    static constexpr const char *jsonTypeName = "PersistedEnvironmentProfileRecord";
    static constexpr qint64 currentProtectionVersion = 1;
};
