#pragma once

#include "records/ManagedService.h"
#include "records/ManagedServiceClearPayload.h"
#include "records/PersistedVersionedRecord.h"

// One element of services.json. Records this application writes are clear
// (a `clearPayload`, not protected); protected records carrying an
// `encryptedPayload` are left over from an older version until migrated.
struct PersistedManagedServiceRecord
    : PersistedVersionedRecord<PersistedManagedServiceRecord, ManagedServiceClearPayload> {
    static constexpr const char *jsonTypeName = "PersistedManagedServiceRecord";

    // The clear record of a service, as every save writes it.
    static PersistedManagedServiceRecord clear(const ManagedService &service);
};
