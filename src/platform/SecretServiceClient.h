#pragma once

#include "platform/KeychainError.h"
#include "platform/SensitiveBytes.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

// Items of the desktop's Secret Service (gnome-keyring, KWallet, KeePassXC…)
// addressed by two string attributes: "service", fixed per client, and
// "account", chosen by the caller. Items are written to the default
// collection.
//
// Every call blocks, possibly for as long as an unlock prompt is up, so none
// may run on the main thread. Failures throw KeychainError; a missing Secret
// Service fails at once with `unhandled` carrying noSecretServiceStatus.
class SecretServiceClient {
public:
    enum class Content { text, binary };

    explicit SecretServiceClient(const QString &service);

    // Writes `secret` under `account`, replacing the item that has the same
    // attributes in the same call, so the old secret stays if the write fails.
    void store(const QString &account, QByteArrayView secret, Content content, const QString &label) const;

    // The stored bytes, or none when no item has this account. An item that
    // stays locked because its unlock prompt was dismissed is an error, not
    // an absent item.
    std::optional<SensitiveBytes> lookup(const QString &account) const;

    // Removes every item of the account; none being there is no failure.
    void clear(const QString &account) const;

    // The accounts of every item of this client's service, locked or not; none
    // while no Secret Service runs, which this call never starts: a listing
    // only serves clean-up, and that can wait for a keyring that is up.
    QStringList accounts() const;

private:
    QByteArray m_service;
};
