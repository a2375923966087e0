#pragma once

#include "records/Json.h"

#include <QHash>
#include <QString>

// The stored form of one encrypted payload (services.json, environments.json).
// Sealing and opening live with the profiles; the record itself is shared.
struct ProtectedPayloadEnvelope {
    static inline const QString algorithmName = QStringLiteral("AES.GCM");
    static inline const QString masterKeyAccount = QStringLiteral("protected-profiles.master-key.v1");

    QString algorithm;
    QString keyID;
    QString aad;
    QString combinedSealedBox; // Base64 of nonce (12 bytes) | ciphertext | tag (16 bytes)

    static ProtectedPayloadEnvelope fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const ProtectedPayloadEnvelope &, const ProtectedPayloadEnvelope &) = default;
};

size_t qHash(const ProtectedPayloadEnvelope &envelope, size_t seed = 0);
