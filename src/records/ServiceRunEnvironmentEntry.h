#pragma once

#include "records/Json.h"

#include <QHash>
#include <QList>
#include <QString>

// One variable as the run history records it. A secret's value is never kept:
// build entries with `forVariable`, which puts the mask in its place.
struct ServiceRunEnvironmentEntry {
    // Eight U+2022 BULLET characters.
    static inline const QString secretMask = QString(8, QChar(0x2022));

    QString key;
    QString value;
    bool isSecret = false;

    // The entry for a profile variable: a secret's value is replaced by the mask here,
    // so the clear value goes no further than this call.
    static ServiceRunEnvironmentEntry forVariable(const QString &key, const QString &value, bool isSecret);

    // The same entry with the mask as its value when it is secret.
    ServiceRunEnvironmentEntry redacted() const;

    // Strict: "key", "value" and "isSecret" are all required.
    static ServiceRunEnvironmentEntry fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const ServiceRunEnvironmentEntry &, const ServiceRunEnvironmentEntry &) = default;
};

size_t qHash(const ServiceRunEnvironmentEntry &entry, size_t seed = 0);

// Same length and order; every secret entry carries the mask, everything else unchanged.
// Applying it twice changes nothing.
QList<ServiceRunEnvironmentEntry> redactSecretEnvironmentEntries(const QList<ServiceRunEnvironmentEntry> &entries);

// In place; returns whether any entry changed, so callers learn it without comparing lists.
bool redactSecretEnvironmentEntriesInPlace(QList<ServiceRunEnvironmentEntry> &entries);
