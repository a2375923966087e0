#include "profiles/KeychainSecretStore.h"

#include "platform/SensitiveBytes.h"

#include <QStringDecoder>

KeychainSecretStore::KeychainSecretStore()
    : m_client(serviceName)
{}

std::optional<QString> KeychainSecretStore::readSecret(const QString &account)
{
    const std::optional<SensitiveBytes> bytes = m_client.lookup(account);
    if (!bytes)
        return std::nullopt;
    // A leading U+FEFF is part of the secret, not a byte order mark to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes->view());
    if (decoder.hasError()) {
        SensitiveBytes::wipe(text);
        return std::nullopt;
    }
    return text;
}

void KeychainSecretStore::saveSecret(const QString &account, const QString &value)
{
    const SensitiveBytes bytes(value.toUtf8());
    m_client.store(account, bytes.view(), SecretServiceClient::Content::text,
                   QStringLiteral("Velmora secret (%1)").arg(account));
}

void KeychainSecretStore::deleteSecret(const QString &account)
{
    m_client.clear(account);
}

QStringList KeychainSecretStore::allAccounts()
{
    try {
        return m_client.accounts();
    } catch (const KeychainError &) {
        return {};
    }
}
