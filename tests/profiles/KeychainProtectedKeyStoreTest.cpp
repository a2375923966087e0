#include "platform/SecretServiceClient.h"
#include "profiles/KeychainProtectedKeyStore.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ProtectedPayloadEnvelope.h"
#include "records/ProtectedProfilesError.h"
#include "support/Await.h"
#include "support/KeyringTestLock.h"

#include <gtest/gtest.h>

namespace {

const SecretServiceClient keyring(KeychainSecretStore::serviceName);

std::optional<QByteArray> storedKeyBytes()
{
    const std::optional<SensitiveBytes> bytes = keyring.lookup(ProtectedPayloadEnvelope::masterKeyAccount);
    if (!bytes)
        return std::nullopt;
    return bytes->view().toByteArray();
}

TEST(KeychainProtectedKeyStore, FirstUseMakesAKeyThatLaterCallsReturn)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainProtectedKeyStore store;
    EXPECT_FALSE(await(store.readMasterKey()).has_value());

    const ProtectedPayloadCrypto created = await(store.loadOrCreateMasterKey());
    EXPECT_EQ(storedKeyBytes(), created.keyData().toByteArray());
    EXPECT_TRUE(await(KeychainProtectedKeyStore().loadOrCreateMasterKey()) == created);
    const std::optional<ProtectedPayloadCrypto> read = await(store.readMasterKey());
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(*read == created);
}

TEST(KeychainProtectedKeyStore, AKeyOfAnotherLengthIsInvalidAndKept)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    keyring.store(ProtectedPayloadEnvelope::masterKeyAccount, QByteArray(16, 'k'), SecretServiceClient::Content::binary,
                  QStringLiteral("test"));
    KeychainProtectedKeyStore store;
    for (auto call : {+[](KeychainProtectedKeyStore &s) { (void)await(s.readMasterKey()); },
                      +[](KeychainProtectedKeyStore &s) { (void)await(s.loadOrCreateMasterKey()); }}) {
        try {
            call(store);
            ADD_FAILURE() << "accepted a 16-byte key";
        } catch (const ProtectedProfilesError &error) {
            EXPECT_EQ(error.errorCase(), ProtectedProfilesError::Case::invalidKey);
            EXPECT_EQ(error.message(), QStringLiteral("The protected profiles encryption key is invalid."));
        }
    }
    // Whatever was sealed under the stored item is not silently orphaned.
    EXPECT_EQ(storedKeyBytes(), QByteArray(16, 'k'));
}

TEST(KeychainProtectedKeyStore, OverlappingFirstUnlocksAgreeOnOneKey)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    for (int round = 0; round < 4; ++round) {
        KeyringTestLock::removeAllItems();
        KeychainProtectedKeyStore first;
        KeychainProtectedKeyStore second;
        KeychainProtectedKeyStore third;
        QFuture<ProtectedPayloadCrypto> a = first.loadOrCreateMasterKey();
        QFuture<ProtectedPayloadCrypto> b = second.loadOrCreateMasterKey();
        QFuture<ProtectedPayloadCrypto> c = third.loadOrCreateMasterKey();
        const ProtectedPayloadCrypto keyA = await(a);
        EXPECT_TRUE(keyA == await(b));
        EXPECT_TRUE(keyA == await(c));
        EXPECT_EQ(storedKeyBytes(), keyA.keyData().toByteArray());
    }
}

} // namespace
