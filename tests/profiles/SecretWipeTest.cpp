#include "profiles/EnvironmentProfilesManager.h"
#include "records/ApplicationSupport.h"
#include "support/Await.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/ProcessMemory.h"

#include <QMap>
#include <QRandomGenerator>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <string_view>

namespace {

constexpr char mask = 0x5a;
constexpr char16_t unitMask = 0x5a5a;

// Keeps every value masked, so that the only clear copies of a secret in this
// process are the ones the code under test makes.
class MaskedSecretStore final : public SecretStoring {
public:
    std::optional<QString> readSecret(const QString &account) override
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_items.constFind(account);
        if (found == m_items.cend())
            return std::nullopt;
        QString value(qsizetype(found->size()), Qt::Uninitialized);
        for (qsizetype i = 0; i < value.size(); ++i)
            value[i] = QChar(char16_t(found->at(size_t(i)) ^ unitMask));
        return value;
    }
    void saveSecret(const QString &account, const QString &value) override
    {
        std::u16string masked;
        for (const QChar c : value)
            masked.push_back(char16_t(c.unicode() ^ unitMask));
        setMasked(account, masked);
    }
    void deleteSecret(const QString &account) override
    {
        const std::lock_guard lock(m_mutex);
        m_items.remove(account);
    }
    QStringList allAccounts() override
    {
        const std::lock_guard lock(m_mutex);
        return m_items.keys();
    }
    void setMasked(const QString &account, const std::u16string &masked)
    {
        const std::lock_guard lock(m_mutex);
        m_items.insert(account, masked);
    }

private:
    std::mutex m_mutex;
    QMap<QString, std::u16string> m_items;
};

// Random letters, made masked and never held in the clear by the test. Long
// enough that a freed copy stays out of the allocator's small-block caches,
// which the search itself would soon reuse.
std::u16string maskedSecret()
{
    std::u16string masked;
    for (int i = 0; i < 8192; ++i)
        masked.push_back(char16_t((u'a' + QRandomGenerator::global()->bounded(26)) ^ unitMask));
    return masked;
}

// The UTF-16 bytes of the secret's second half (the allocator keeps its links
// at the start of a freed block), masked byte by byte as the search wants them.
QByteArray utf16Needle(const std::u16string &masked)
{
    const std::u16string_view half = std::u16string_view(masked).substr(masked.size() / 2);
    return QByteArray(reinterpret_cast<const char *>(half.data()), qsizetype(half.size() * sizeof(char16_t)));
}

EnvironmentProfile vaultWithEmptySecret()
{
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    return {QUuid::createUuid(), QStringLiteral("vault"), {{QUuid::createUuid(), QStringLiteral("TOKEN"), {}, true}},
            true, stamp, stamp};
}

struct SecretWipeTest : ::testing::Test {
    std::shared_ptr<MaskedSecretStore> secrets = std::make_shared<MaskedSecretStore>();
    EnvironmentProfilesRepository repository {applicationSupportDirectory() + QStringLiteral("/environments.json"),
                                              secrets};
    ProtectedProfilesLockManager lockManager {std::make_shared<FakeAuthenticator>(),
                                              std::make_shared<FakeProtectedKeyProvider>()};
    EnvironmentProfilesManager manager {repository, &lockManager};
    const std::u16string secret = maskedSecret();
};

} // namespace

TEST_F(SecretWipeTest, LockingWipesTheValuesOfUnlockedProfiles)
{
    const EnvironmentProfile vault = vaultWithEmptySecret();
    await(manager.saveProfile(vault));
    secrets->setMasked(EnvironmentProfilesRepository::secretAccount(vault.id, vault.variables[0].id), secret);
    lockManager.lock();

    await(manager.unlockProfile(vault.id, ProtectedUnlockReason::viewProfile(vault.name)));
    repository.waitForIdle();
    // The search finds the value while the unlocked profile holds it.
    EXPECT_TRUE(processMemoryContains(utf16Needle(secret), mask));
    lockManager.lock();
    EXPECT_FALSE(processMemoryContains(utf16Needle(secret), mask));
}
