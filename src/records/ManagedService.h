#pragma once

#include "records/Json.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

// One service: a named shell command line with its launch options.
struct ManagedService {
    QUuid id;
    QString name;
    QString command;
    bool openInTerminal = false;
    std::optional<QUuid> environmentProfileId;
    QDateTime createdAt;
    QDateTime updatedAt;

    // Lenient, for the oldest services.json layout: only "id" and "name" are
    // required; a blank command with an "executablePath" is rebuilt from the
    // path and its "arguments"; missing dates become the current time.
    static ManagedService fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const ManagedService &, const ManagedService &) = default;
};

size_t qHash(const ManagedService &service, size_t seed = 0);
