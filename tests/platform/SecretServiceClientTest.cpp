#include "platform/SecretServiceClient.h"
#include "profiles/KeychainSecretStore.h"
#include "support/KeyringTestLock.h"

#include <gtest/gtest.h>

namespace {

SecretServiceClient appKeyring()
{
    return SecretServiceClient(KeychainSecretStore::serviceName);
}

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

TEST(SecretServiceClient, BinaryItemsKeepEveryByte)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    const SecretServiceClient keyring = appKeyring();
    const QByteArray bytes = everyByteValue();
    keyring.store(QStringLiteral("binary"), bytes, SecretServiceClient::Content::binary, QStringLiteral("test"));

    const std::optional<SensitiveBytes> read = keyring.lookup(QStringLiteral("binary"));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->view(), QByteArrayView(bytes));
}

TEST(SecretServiceClient, AccountsAreThoseOfTheClientsServiceOnly)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    const SecretServiceClient keyring = appKeyring();
    const SecretServiceClient other(QStringLiteral("com.tolvenix.Velmora.other-test-service"));
    keyring.store(QStringLiteral("mine"), "1", SecretServiceClient::Content::text, QStringLiteral("test"));
    other.store(QStringLiteral("theirs"), "2", SecretServiceClient::Content::text, QStringLiteral("test"));

    EXPECT_EQ(keyring.accounts(), QStringList {QStringLiteral("mine")});
    EXPECT_FALSE(keyring.lookup(QStringLiteral("theirs")).has_value());
    other.clear(QStringLiteral("theirs"));
}

} // namespace
