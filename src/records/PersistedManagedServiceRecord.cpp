#include "records/PersistedManagedServiceRecord.h"

PersistedManagedServiceRecord PersistedManagedServiceRecord::clear(const ManagedService &service)
{
    PersistedManagedServiceRecord record;
    record.id = service.id;
    record.name = service.name;
    record.createdAt = service.createdAt;
    record.updatedAt = service.updatedAt;
    record.clearPayload = ManagedServiceClearPayload{service.command, service.openInTerminal,
                                                     service.environmentProfileId};
    return record;
}

PersistedManagedServiceRecord PersistedManagedServiceRecord::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "PersistedManagedServiceRecord");
    PersistedManagedServiceRecord record;
    record.formatVersion = reader.int64("formatVersion");
    record.id = reader.uuid("id");
    record.name = reader.string("name");
    record.createdAt = reader.date("createdAt");
    record.updatedAt = reader.date("updatedAt");
    record.isProtected = reader.boolean("isProtected");
    record.protectionVersion = reader.optionalInt64("protectionVersion");
    if (const json::Value *payload = reader.find("clearPayload"))
        record.clearPayload = ManagedServiceClearPayload::fromJson(*payload);
    if (const json::Value *envelope = reader.find("encryptedPayload"))
        record.encryptedPayload = ProtectedPayloadEnvelope::fromJson(*envelope);
    return record;
}

json::Value PersistedManagedServiceRecord::toJson(json::Allocator &allocator) const
{
    json::ObjectWriter writer(allocator);
    writer.set("formatVersion", formatVersion)
        .set("id", id)
        .set("name", name)
        .set("createdAt", createdAt)
        .set("updatedAt", updatedAt)
        .set("isProtected", isProtected)
        .setOptional("protectionVersion", protectionVersion);
    if (clearPayload)
        writer.set("clearPayload", clearPayload->toJson(allocator));
    if (encryptedPayload)
        writer.set("encryptedPayload", encryptedPayload->toJson(allocator));
    return writer.take();
}

size_t qHash(const PersistedManagedServiceRecord &record, size_t seed)
{
    return qHashMulti(seed, record.formatVersion, record.id, record.name, record.createdAt, record.updatedAt,
                      record.isProtected, record.protectionVersion.value_or(0), record.protectionVersion.has_value(),
                      record.clearPayload ? qHash(*record.clearPayload) : size_t(0), record.clearPayload.has_value(),
                      record.encryptedPayload ? qHash(*record.encryptedPayload) : size_t(0),
                      record.encryptedPayload.has_value());
}
