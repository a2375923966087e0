#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where secret values of environment variables live, one item per account.
// Calls block (a keyring may be waiting for its unlock prompt): run them on
// a serial executor, never on the main thread. Failures throw KeychainError.
class SecretStoring {
public:
    virtual ~SecretStoring() = default;

    // The secret of the account, or none when there is no item.
    virtual std::optional<QString> readSecret(const QString &account) = 0;
    // Stores `value` under `account`, replacing any earlier item of it.
    virtual void saveSecret(const QString &account, const QString &value) = 0;
    // Removes the item of the account; a missing item is no failure.
    virtual void deleteSecret(const QString &account) = 0;
    // Every account of the application's items. Never fails: empty on any error.
    virtual QStringList allAccounts() = 0;
};
