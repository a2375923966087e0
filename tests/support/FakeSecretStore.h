#pragma once

#include "platform/KeychainError.h"
#include "profiles/SecretStoring.h"

#include <QMap>
#include <QString>

#include <mutex>
#include <optional>

// An in-memory SecretStoring for tests of the layers above the keyring.
// Failures can be injected per operation, for one account or for all.
// Safe to use from a repository's thread while the test inspects it.
class FakeSecretStore final : public SecretStoring {
public:
    enum class Operation { read, save, remove, list };

    std::optional<QString> readSecret(const QString &account) override;
    void saveSecret(const QString &account, const QString &value) override;
    void deleteSecret(const QString &account) override;
    // Sorted by account. A list failure gives an empty list, as the real store does.
    QStringList allAccounts() override;

    // Every later `operation` on `account` (any account when none) throws `error`.
    void failOn(Operation operation, const KeychainError &error, const std::optional<QString> &account = {});
    void clearFailures();

    QMap<QString, QString> items() const;
    void setItem(const QString &account, const QString &value);
    int callCount(Operation operation) const;

private:
    struct Failure {
        Operation operation;
        std::optional<QString> account;
        KeychainError error;
    };
    void throwIfFailing(Operation operation, const QString &account) const;

    mutable std::mutex m_mutex;
    QMap<QString, QString> m_items;
    QList<Failure> m_failures;
    QMap<Operation, int> m_calls;
};
