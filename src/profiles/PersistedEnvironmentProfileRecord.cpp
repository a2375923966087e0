#include "profiles/PersistedEnvironmentProfileRecord.h"

PersistedEnvironmentProfileRecord PersistedEnvironmentProfileRecord::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "PersistedEnvironmentProfileRecord");
    PersistedEnvironmentProfileRecord record;
    record.formatVersion = reader.int64("formatVersion");
    record.id = reader.uuid("id");
    record.name = reader.string("name");
    record.createdAt = reader.date("createdAt");
    record.updatedAt = reader.date("updatedAt");
    record.isProtected = reader.boolean("isProtected");
    record.protectionVersion = reader.optionalInt64("protectionVersion");
    if (const json::Value *payload = reader.find("clearPayload"))
        record.clearPayload = EnvironmentProfileClearPayload::fromJson(*payload);
    if (const json::Value *envelope = reader.find("encryptedPayload"))
        record.encryptedPayload = ProtectedPayloadEnvelope::fromJson(*envelope);
    return record;
}

json::Value PersistedEnvironmentProfileRecord::toJson(json::Allocator &allocator) const
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

size_t qHash(const PersistedEnvironmentProfileRecord &record, size_t seed)
{
    return qHashMulti(seed, record.formatVersion, record.id, record.name, record.createdAt, record.updatedAt,
                      record.isProtected, record.protectionVersion.value_or(-1),
                      record.clearPayload ? qHash(*record.clearPayload) : 0,
                      record.encryptedPayload ? qHash(*record.encryptedPayload) : 0);
}
