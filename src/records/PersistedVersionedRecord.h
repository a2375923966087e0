#pragma once

#include "records/Json.h"
#include "records/ProtectedPayloadEnvelope.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

// The stored shape shared by services.json and environments.json: identity,
// name and dates in the clear, the rest either as a clear payload or sealed
// in an envelope. `Derived` names itself in decode errors through `jsonTypeName`.
template <typename Derived, typename ClearPayload>
struct PersistedVersionedRecord {
    static constexpr qint64 currentFormatVersion = 1;

    qint64 formatVersion = currentFormatVersion; // any integer is accepted when read
    QUuid id;
    QString name;
    QDateTime createdAt;
    QDateTime updatedAt;
    bool isProtected = false;
    std::optional<qint64> protectionVersion;
    std::optional<ClearPayload> clearPayload;
    std::optional<ProtectedPayloadEnvelope> encryptedPayload;

    // Strict on the six required keys; optional keys may be missing or null;
    // other keys are ignored.
    static Derived fromJson(const json::Value &value)
    {
        const json::ObjectReader reader(value, Derived::jsonTypeName);
        Derived record;
        record.formatVersion = reader.int64("formatVersion");
        record.id = reader.uuid("id");
        record.name = reader.string("name");
        record.createdAt = reader.date("createdAt");
        record.updatedAt = reader.date("updatedAt");
        record.isProtected = reader.boolean("isProtected");
        record.protectionVersion = reader.optionalInt64("protectionVersion");
        if (const json::Value *payload = reader.find("clearPayload"))
            record.clearPayload = ClearPayload::fromJson(*payload);
        if (const json::Value *envelope = reader.find("encryptedPayload"))
            record.encryptedPayload = ProtectedPayloadEnvelope::fromJson(*envelope);
        return record;
    }

    json::Value toJson(json::Allocator &allocator) const
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

    friend bool operator==(const PersistedVersionedRecord &, const PersistedVersionedRecord &) = default;

    friend size_t qHash(const Derived &record, size_t seed = 0)
    {
        return qHashMulti(
            seed, record.formatVersion, record.id, record.name, record.createdAt, record.updatedAt, record.isProtected,
            record.protectionVersion.value_or(0), record.protectionVersion.has_value(),
            record.clearPayload ? qHash(*record.clearPayload) : size_t(0), record.clearPayload.has_value(),
            record.encryptedPayload ? qHash(*record.encryptedPayload) : size_t(0), record.encryptedPayload.has_value());
    }
};
