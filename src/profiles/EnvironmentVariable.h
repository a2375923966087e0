#pragma once

#include "records/Json.h"

#include <QHash>
#include <QString>
#include <QUuid>

// One variable of an environment profile. A secret variable's value lives
// only in memory and in the keyring; every data file stores it empty.
struct EnvironmentVariable {
    QUuid id;
    QString key; // as typed; the key rule applies to its trimmed form
    QString value;
    bool isSecret = false;

    // The key without the white space and line breaks around it (Unicode
    // separators, tab, LF, VT, FF, CR, NEL); characters inside stay.
    static QString trimmedKey(const QString &key);
    // The trimmed key is not empty, starts with an ASCII letter or "_" and
    // goes on with ASCII letters, digits and "_" only.
    static bool isValidKey(const QString &key);

    // Strict: all four keys are required.
    static EnvironmentVariable fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const EnvironmentVariable &, const EnvironmentVariable &) = default;
};

size_t qHash(const EnvironmentVariable &variable, size_t seed = 0);
