#pragma once

#include "profiles/EnvironmentVariable.h"
#include "records/Json.h"

#include <QHash>
#include <QList>

// The variables of one stored profile, in order. Kept in the clear for a
// profile that is not protected, sealed into an envelope for one that is;
// either way every secret value in it is empty.
struct EnvironmentProfileClearPayload {
    QList<EnvironmentVariable> variables;

    // Strict: "variables" is required.
    static EnvironmentProfileClearPayload fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const EnvironmentProfileClearPayload &, const EnvironmentProfileClearPayload &) = default;
};

size_t qHash(const EnvironmentProfileClearPayload &payload, size_t seed = 0);
