#include "ServiceManagerFixture.h"

#include "profiles/KeychainSecretStore.h"
#include "support/KeyringTestLock.h"
#include "support/StoredProtectedProfile.h"

namespace {

// The application's managers over a protected profile stored by an earlier
// run, its secret in the test keyring.
struct ProtectedValuesInMemoryTest : ServiceManagerTest {
    ProtectedValuesInMemoryTest()
        : ServiceManagerTest(std::make_shared<KeychainSecretStore>())
    {}

    // Waits for the manager's wipe of values that others held past the lock.
    static bool noValueCopyLeft(QStringList &copies)
    {
        return waitUntil([&] {
            copies = StoredProtectedProfile::valueCopies();
            return copies.isEmpty();
        });
    }
};

} // namespace

TEST_F(ProtectedValuesInMemoryTest, ALockLeavesNoCopyOfAnOpenedValueNorOfOneARunningServiceWasGiven)
{
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock keyring;
    const StoredProtectedProfile stored;
    KeychainSecretStore keychain;
    stored.store(profilesRepository.fileURL(), keys->sampleKey(), keychain);
    await(profiles.reload());
    QStringList copies;

    // Shown, as a screen holds it past the lock.
    std::optional<EnvironmentProfile> shown =
        await(profiles.unlockProfile(stored.id, ProtectedUnlockReason::viewProfile(stored.name)));
    ASSERT_EQ(shown->variables.size(), 2);
    ASSERT_FALSE(StoredProtectedProfile::valueCopies().isEmpty());
    lockManager.lock();
    shown.reset();
    EXPECT_TRUE(noValueCopyLeft(copies)) << copies.join(QStringLiteral(", ")).toStdString();

    // A service of the profile, running at the lock, stopped afterwards.
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("exec sleep 600"), stored.id);
    await(manager.start(service.id));
    ASSERT_TRUE(running(service.id));
    lockManager.lock();
    await(manager.stop(service.id, false));
    ASSERT_TRUE(waitForStopped(service.id));
    await(manager.waitForStopSequences(), 10000);
    EXPECT_TRUE(noValueCopyLeft(copies)) << copies.join(QStringLiteral(", ")).toStdString();
}
