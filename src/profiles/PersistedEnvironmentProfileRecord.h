#pragma once

#include "profiles/EnvironmentProfileClearPayload.h"
#include "records/Json.h"
#include "records/ProtectedPayloadEnvelope.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

// One profile as environments.json stores it: the profile's identity and
// dates in the clear, its variables either in `clearPayload` (not protected)
// or sealed in `encryptedPayload` (protected).
struct PersistedEnvironmentProfileRecord {
    static constexpr qint64 currentFormatVersion = 1;
    static constexpr qint64 currentProtectionVersion = 1;

    qint64 formatVersion = currentFormatVersion;  // any integer is accepted when read
    QUuid id;
    QString name;
    QDateTime createdAt;
    QDateTime updatedAt;
    bool isProtected = false;
    std::optional<qint64> protectionVersion;
    std::optional<EnvironmentProfileClearPayload> clearPayload;
    std::optional<ProtectedPayloadEnvelope> encryptedPayload;

    // Strict on the six required keys; optional keys may be missing or null;
    // other keys are ignored.
    static PersistedEnvironmentProfileRecord fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const PersistedEnvironmentProfileRecord &,
                           const PersistedEnvironmentProfileRecord &) = default;
};

size_t qHash(const PersistedEnvironmentProfileRecord &record, size_t seed = 0);
