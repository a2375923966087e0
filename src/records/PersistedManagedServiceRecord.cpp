#include "records/PersistedManagedServiceRecord.h"

PersistedManagedServiceRecord PersistedManagedServiceRecord::clear(const ManagedService &service)
{
    PersistedManagedServiceRecord record;
    record.id = service.id;
    record.name = service.name;
    record.createdAt = service.createdAt;
    record.updatedAt = service.updatedAt;
    record.clearPayload =
        ManagedServiceClearPayload {service.command, service.openInTerminal, service.environmentProfileId};
    return record;
}
