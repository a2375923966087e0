#include "records/ProtectedPayloadEnvelope.h"

ProtectedPayloadEnvelope ProtectedPayloadEnvelope::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "ProtectedPayloadEnvelope");
    return {reader.string("algorithm"), reader.string("keyID"), reader.string("aad"),
            reader.string("combinedSealedBox")};
}

json::Value ProtectedPayloadEnvelope::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("algorithm", algorithm)
        .set("keyID", keyID)
        .set("aad", aad)
        .set("combinedSealedBox", combinedSealedBox)
        .take();
}

size_t qHash(const ProtectedPayloadEnvelope &envelope, size_t seed)
{
    return qHashMulti(seed, envelope.algorithm, envelope.keyID, envelope.aad, envelope.combinedSealedBox);
}
