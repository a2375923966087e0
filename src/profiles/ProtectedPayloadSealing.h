#pragma once

#include "platform/SensitiveBytes.h"
#include "profiles/ProtectedPayloadCrypto.h"
#include "records/JsonCodec.h"
#include "records/ProtectedPayloadEnvelope.h"
#include "records/ProtectedProfilesError.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

// Sealing a payload into a ProtectedPayloadEnvelope and opening it again:
// AES-256-GCM under the master key, a fresh random 12-byte nonce per seal,
// a 16-byte tag, and the record's id and kind bound in as associated data,
// so an envelope moved to another record, or to another kind, never opens.

// What an envelope holds; it only selects the word in the associated data.
enum class ProtectedPayloadKind { profile, service };

// "velmora:protected-<profile|service>:v1:<lower-case hyphenated uuid>"
QString protectedPayloadAAD(const QUuid &id, ProtectedPayloadKind kind);

// Seals `plaintext`. Throws ProtectedProfilesError encryptionFailed.
ProtectedPayloadEnvelope sealProtectedPayload(QByteArrayView plaintext, const QUuid &id, ProtectedPayloadKind kind,
                                              const ProtectedPayloadCrypto &key);

// The plaintext of the envelope. Every failure, whatever its cause (another
// record's envelope, another kind, an edited field, a damaged box, a wrong
// key), throws ProtectedProfilesError decryptionFailed and tells nothing
// more. The caller owns the bytes; wipe them with SensitiveBytes::wipe once
// decoded.
QByteArray openProtectedPayload(const ProtectedPayloadEnvelope &envelope, const QUuid &id, ProtectedPayloadKind kind,
                                const ProtectedPayloadCrypto &key);

// Payload records go in as compact JSON with sorted keys, the same bytes for
// the same record every time.
template <typename Payload>
ProtectedPayloadEnvelope sealProtectedPayloadRecord(const Payload &payload, const QUuid &id, ProtectedPayloadKind kind,
                                                    const ProtectedPayloadCrypto &key)
{
    std::optional<SensitiveBytes> plaintext;
    try {
        json::Document document;
        plaintext.emplace(json::serializeCompact(JsonCodec<Payload>::encode(payload, document.GetAllocator())));
    } catch (const ProtectedProfilesError &) {
        throw;
    } catch (...) {
        throw ProtectedProfilesError(ProtectedProfilesError::Case::encryptionFailed);
    }
    return sealProtectedPayload(plaintext->view(), id, kind, key);
}

template <typename Payload>
Payload openProtectedPayloadRecord(const ProtectedPayloadEnvelope &envelope, const QUuid &id, ProtectedPayloadKind kind,
                                   const ProtectedPayloadCrypto &key)
{
    json::ParsedDocument parsed;
    try {
        parsed = json::parse(openProtectedPayload(envelope, id, kind, key));
        Payload payload = JsonCodec<Payload>::decode(parsed.root());
        SensitiveBytes::wipe(parsed.buffer);
        return payload;
    } catch (...) {
        SensitiveBytes::wipe(parsed.buffer);
        throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
    }
}

template <typename Payload>
ProtectedPayloadEnvelope sealProtectedProfilePayload(const Payload &payload, const QUuid &id,
                                                     const ProtectedPayloadCrypto &key)
{
    return sealProtectedPayloadRecord(payload, id, ProtectedPayloadKind::profile, key);
}

template <typename Payload>
Payload openProtectedProfilePayload(const ProtectedPayloadEnvelope &envelope, const QUuid &id,
                                    const ProtectedPayloadCrypto &key)
{
    return openProtectedPayloadRecord<Payload>(envelope, id, ProtectedPayloadKind::profile, key);
}

template <typename Payload>
Payload openProtectedServicePayload(const ProtectedPayloadEnvelope &envelope, const QUuid &id,
                                    const ProtectedPayloadCrypto &key)
{
    return openProtectedPayloadRecord<Payload>(envelope, id, ProtectedPayloadKind::service, key);
}
