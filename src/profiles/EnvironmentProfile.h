#pragma once

#include "profiles/EnvironmentVariable.h"
#include "records/Json.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

// A named, ordered set of environment variables that services can take for
// their launches.
struct EnvironmentProfile {
    QUuid id;
    QString name;
    QList<EnvironmentVariable> variables;
    bool isProtected = false;
    QDateTime createdAt;
    QDateTime updatedAt;

    // Checks every non-blank key of every profile, in order, against the key
    // rule; throws EnvironmentProfileValidationError for the first that fails.
    static void validateKeys(const QList<EnvironmentProfile> &profiles);

    // Lenient: only "id" and "name" are required; a missing "variables" is an
    // empty list, "isProtected" false, each date the current time. A key of
    // the wrong type fails.
    static EnvironmentProfile fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const EnvironmentProfile &, const EnvironmentProfile &) = default;
};

size_t qHash(const EnvironmentProfile &profile, size_t seed = 0);
