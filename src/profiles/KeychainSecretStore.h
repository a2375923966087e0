#pragma once

#include "platform/SecretServiceClient.h"
#include "profiles/SecretStoring.h"

// Secret values in the desktop keyring, as UTF-8 text items of the service
// "com.tolvenix.Velmora" with the caller's account. Stateless: any two
// instances behave alike.
class KeychainSecretStore final : public SecretStoring {
public:
    static inline const QString serviceName = QStringLiteral("com.tolvenix.Velmora");

    KeychainSecretStore();

    // An item whose bytes are not valid UTF-8 reads as none.
    std::optional<QString> readSecret(const QString &account) override;
    // One replacing write: if it fails, the account keeps its earlier secret.
    void saveSecret(const QString &account, const QString &value) override;
    void deleteSecret(const QString &account) override;
    QStringList allAccounts() override;

private:
    SecretServiceClient m_client;
};
