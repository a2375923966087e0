#include "platform/SecretServiceClient.h"
#include "profiles/KeychainSecretStore.h"
#include "support/KeyringTestLock.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const QString account = QStringLiteral("env.0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.11111111-2222-3333-4444-555555555555");

TEST(KeychainSecretStore, SaveReplacesAndReadsBackTheLastValue)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore store;
    store.saveSecret(account, QStringLiteral("a"));
    store.saveSecret(account, QStringLiteral("b"));
    EXPECT_EQ(store.readSecret(account), QStringLiteral("b"));
    EXPECT_EQ(store.allAccounts(), QStringList {account});
}

TEST(KeychainSecretStore, AnyTextRoundTrips)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore store;
    const QString values[] = {
        QStringLiteral("é and 😀 and 中文"),
        QStringLiteral("quotes \" ' ` backslash \\ newline \n tab \t end"),
        QStringLiteral("\uFEFFstarts with a byte order mark"),
        QStringLiteral("  blanks around  "),
        QString(),
    };
    for (const QString &value : values) {
        store.saveSecret(account, value);
        const std::optional<QString> read = store.readSecret(account);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, value);
    }
}

TEST(KeychainSecretStore, MissingAccountReadsAsNoneAndDeletesQuietly)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore store;
    EXPECT_FALSE(store.readSecret(account).has_value());
    EXPECT_NO_THROW(store.deleteSecret(account));

    store.saveSecret(account, QStringLiteral("value"));
    store.deleteSecret(account);
    EXPECT_FALSE(store.readSecret(account).has_value());
}

TEST(KeychainSecretStore, AllAccountsListsEveryItemOfTheService)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore store;
    EXPECT_TRUE(store.allAccounts().isEmpty());

    const QStringList accounts = {QStringLiteral("env.a"), QStringLiteral("env.b"),
                                  QStringLiteral("protected-profiles.master-key.v1")};
    for (const QString &name : accounts)
        store.saveSecret(name, QStringLiteral("secret of ") + name);
    QStringList listed = store.allAccounts();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, accounts);
}

TEST(KeychainSecretStore, BytesThatAreNotUtf8ReadAsNone)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    const SecretServiceClient keyring(KeychainSecretStore::serviceName);
    for (const QByteArray &bytes : {QByteArray("\xff\xfe"), QByteArray("ok\xc3"), QByteArray("\xed\xa0\x80")}) {
        keyring.store(account, bytes, SecretServiceClient::Content::binary, QStringLiteral("test"));
        EXPECT_FALSE(KeychainSecretStore().readSecret(account).has_value()) << bytes.toHex().constData();
    }
}

TEST(KeychainSecretStore, SecretsReachNoLogLine)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    const LogCapture log;
    const QString secret = QStringLiteral("s3cr3t-\"value\"-\\-ü");
    KeychainSecretStore store;
    store.saveSecret(account, secret);
    EXPECT_EQ(store.readSecret(account), secret);
    store.deleteSecret(account);
    for (const QString &line : log.messages())
        EXPECT_FALSE(line.contains(QStringLiteral("s3cr3t"))) << qPrintable(line);
}

} // namespace
