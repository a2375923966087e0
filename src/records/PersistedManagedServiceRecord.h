#pragma once

#include "records/Json.h"
#include "records/ManagedService.h"
#include "records/ManagedServiceClearPayload.h"
#include "records/ProtectedPayloadEnvelope.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

// One element of services.json. Records this application writes are clear
// (a `clearPayload`, not protected); protected records carrying an
// `encryptedPayload` are left over from an older version until migrated.
struct PersistedManagedServiceRecord {
    static constexpr qint64 currentFormatVersion = 1;

    qint64 formatVersion = currentFormatVersion;
    QUuid id;
    QString name;
    QDateTime createdAt;
    QDateTime updatedAt;
    bool isProtected = false;
    std::optional<qint64> protectionVersion;
    std::optional<ManagedServiceClearPayload> clearPayload;
    std::optional<ProtectedPayloadEnvelope> encryptedPayload;

    // The clear record of a service, as every save writes it.
    static PersistedManagedServiceRecord clear(const ManagedService &service);

    static PersistedManagedServiceRecord fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const PersistedManagedServiceRecord &, const PersistedManagedServiceRecord &) = default;
};

size_t qHash(const PersistedManagedServiceRecord &record, size_t seed = 0);
