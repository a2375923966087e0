#pragma once

#include "records/Json.h"

#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

// The launch fields of a service record in services.json; an older version
// stored them encrypted, which is why they are a record of their own.
struct ManagedServiceClearPayload {
    QString command;
    bool openInTerminal = false;
    std::optional<QUuid> environmentProfileId;

    static ManagedServiceClearPayload fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const ManagedServiceClearPayload &, const ManagedServiceClearPayload &) = default;
};

size_t qHash(const ManagedServiceClearPayload &payload, size_t seed = 0);
