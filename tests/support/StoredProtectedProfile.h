#pragma once

#include "profiles/ProtectedPayloadCrypto.h"
#include "profiles/SecretStoring.h"

#include <QString>
#include <QUuid>

// A protected profile as an earlier run left it: sealed in environments.json
// with a plain variable PLAINV and a secret SECRETV, whose value is in the
// keyring. The values are built from parts into wiped memory and sought in
// masked forms, so each copy found is one the application made.
struct StoredProtectedProfile {
    QUuid id = QUuid::createUuid();
    QString name = QStringLiteral("vault");

    // Writes the file at `path` (replacing it), sealed with `key`, and the secret's item.
    void store(const QString &path, const ProtectedPayloadCrypto &key, SecretStoring &secrets) const;

    // Each copy of either value, as UTF-8 or UTF-16, in this process's writable
    // memory, named for a failure message; empty when there is none.
    static QString valueCopies();
    // The copies still there once the wipes due have had their turn.
    static QString valueCopiesLeft();
    // The plain value as UTF-16, as a launch environment holds it.
    static QString plainValue();
};
