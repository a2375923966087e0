#pragma once

#include "profiles/ProtectedPayloadCrypto.h"
#include "profiles/SecretStoring.h"

#include <QString>
#include <QStringList>
#include <QUuid>

// A protected profile as an earlier run left it: environments.json holds it
// sealed, with a plain variable PLAINV and a secret SECRETV (empty there, as
// stored), and the keyring holds the secret's value. The values are put
// together from parts straight into memory that is wiped, and sought through
// masked forms, so every whole copy a search finds is one the application
// made once it opened the profile.
struct StoredProtectedProfile {
    QUuid id = QUuid::createUuid();
    QString name = QStringLiteral("vault");

    // Writes the file at `path` (replacing it), sealed with `key`, and the secret's item.
    void store(const QString &path, const ProtectedPayloadCrypto &key, SecretStoring &secrets) const;

    // Each copy of either value, as UTF-8 or as UTF-16, in this process's
    // writable memory, named for a failure message.
    static QStringList valueCopies();
    // The plain value as UTF-16, from parts, as a launch environment holds it.
    static QString plainValue();
};
