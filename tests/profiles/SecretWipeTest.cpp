#include "profiles/EnvironmentProfilesManager.h"
#include "records/ApplicationSupport.h"
#include "support/Await.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/ProcessMemory.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char byteMask = 0x5a;
constexpr char16_t mask = 0x5a5a; // byteMask in both bytes

// Hands out one secret for every account, kept masked, so that the only clear
// copies in this process are the ones the code under test makes. Long enough
// that a freed copy stays out of the allocator's small-block caches, which the
// memory search itself would soon reuse.
struct MaskedSecretStore final : SecretStoring {
    std::u16string masked;
    MaskedSecretStore()
    {
        for (int i = 0; i < 8192; ++i)
            masked.push_back(char16_t((u'a' + QRandomGenerator::global()->bounded(26)) ^ mask));
    }
    std::optional<QString> readSecret(const QString &) override
    {
        QString value(qsizetype(masked.size()), Qt::Uninitialized);
        for (qsizetype i = 0; i < value.size(); ++i)
            value[i] = QChar(char16_t(masked[size_t(i)] ^ mask));
        return value;
    }
    void saveSecret(const QString &, const QString &) override {}
    void deleteSecret(const QString &) override {}
    QStringList allAccounts() override { return {}; }

    // The UTF-16 bytes of the second half (a freed block starts with the
    // allocator's links), masked byte by byte as the search wants them.
    QByteArray needle() const
    {
        return QByteArray(reinterpret_cast<const char *>(masked.data() + masked.size() / 2),
                          qsizetype(masked.size() / 2 * sizeof(char16_t)));
    }
};

} // namespace

TEST(SecretWipe, LockingWipesTheValuesOfUnlockedProfiles)
{
    auto secrets = std::make_shared<MaskedSecretStore>();
    EnvironmentProfilesRepository repository(applicationSupportDirectory() + QStringLiteral("/environments.json"),
                                             secrets);
    ProtectedProfilesLockManager lockManager(std::make_shared<FakeAuthenticator>(),
                                             std::make_shared<FakeProtectedKeyProvider>());
    EnvironmentProfilesManager manager(repository, &lockManager);
    const EnvironmentProfile vault {QUuid::createUuid(),
                                    QStringLiteral("vault"),
                                    {{QUuid::createUuid(), QStringLiteral("TOKEN"), {}, true}},
                                    true,
                                    QDateTime::currentDateTimeUtc(),
                                    QDateTime::currentDateTimeUtc()};
    await(manager.saveProfile(vault));
    lockManager.lock();

    await(manager.unlockProfile(vault.id, ProtectedUnlockReason::viewProfile(vault.name)));
    repository.waitForIdle();
    // The search finds the value while the unlocked profile holds it.
    EXPECT_TRUE(processMemoryContains(secrets->needle(), byteMask));
    lockManager.lock();
    EXPECT_FALSE(processMemoryContains(secrets->needle(), byteMask));
}
