#pragma once

#include "records/Json.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>
#include <utility>

// One variable of an environment profile. A secret variable's value lives
// only in memory and in the keyring; every data file stores it empty.
struct EnvironmentVariable {
    EnvironmentVariable() = default;
    EnvironmentVariable(QUuid variableId, QString variableKey, QString variableValue, bool secret,
                        std::optional<qint64> generation = std::nullopt)
        : id(variableId),
          key(std::move(variableKey)),
          value(std::move(variableValue)),
          isSecret(secret),
          secretGeneration(generation)
    {}

    QUuid id;
    QString key; // as typed; the key rule applies to its trimmed form
    QString value;
    bool isSecret = false;
    // Stored only, for a secret: which keyring item holds the value (see
    // EnvironmentProfilesRepository::secretAccount). Profiles handed out of
    // the repository never carry it.
    std::optional<qint64> secretGeneration;

    // Generations stay exact in any JSON reader, which may hold numbers as doubles.
    static constexpr qint64 maxSecretGeneration = qint64(1) << 53;

    // The key without the white space and line breaks around it (Unicode
    // separators, tab, LF, VT, FF, CR, NEL); characters inside stay.
    static QString trimmedKey(const QString &key);
    // The trimmed key is not empty, starts with an ASCII letter or "_" and
    // goes on with ASCII letters, digits and "_" only.
    static bool isValidKey(const QString &key);

    // Overwrites each value where `variables` is its last holder, then empties
    // the list: decrypted values must not linger in freed memory. A shared
    // list is only emptied, its other holders keep the values.
    static void wipeValues(QList<EnvironmentVariable> &variables);

    // Strict: all four keys are required; "secretGeneration" is optional and
    // lies in 1...maxSecretGeneration.
    static EnvironmentVariable fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const EnvironmentVariable &, const EnvironmentVariable &) = default;
};

size_t qHash(const EnvironmentVariable &variable, size_t seed = 0);
