#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ApplicationSupport.h"
#include "records/FileSystemCalls.h"
#include "support/Await.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/KeyringTestLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace {

const char stepVariable[] = "VELMORA_TEST_PROFILE_SAVE_KILLED_AT";
const char pathVariable[] = "VELMORA_TEST_PROFILE_SAVE_PATH";
const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());

QUuid fixedId(int n)
{
    return QUuid(QStringLiteral("%1-2222-4333-8444-555555555555").arg(n, 8, 10, QLatin1Char('0')));
}

EnvironmentProfile profile(int id, const char *name, QList<EnvironmentVariable> variables, bool isProtected = false)
{
    return {fixedId(id), QString::fromLatin1(name), std::move(variables), isProtected, stamp, stamp};
}

EnvironmentVariable secret(int id, const char *key, const char *value)
{
    return {fixedId(id), QString::fromLatin1(key), QString::fromLatin1(value), true};
}

// The profile as stored before the save (its first secret already changed
// once), and as the save leaves it: one secret changed, one kept, one
// cleared, one removed, one added, a plain value changed.
EnvironmentProfile oldProfile()
{
    return profile(1, "prod",
                   {secret(11, "A", "a1"),
                    secret(12, "B", "b1"),
                    secret(13, "C", "c1"),
                    secret(14, "D", "d1"),
                    {fixedId(15), QStringLiteral("X"), QStringLiteral("x1"), false}});
}

EnvironmentProfile newProfile()
{
    return profile(1, "prod",
                   {secret(11, "A", "a2"),
                    secret(12, "B", "b1"),
                    secret(13, "C", ""),
                    secret(16, "E", "e2"),
                    {fixedId(15), QStringLiteral("X"), QStringLiteral("x2"), false}});
}

const EnvironmentProfile vault = profile(2, "vault", {secret(21, "S", "vault-secret")}, true);
const EnvironmentProfile other = profile(3, "other", {secret(31, "R", "other-secret")});
const ProtectedPayloadCrypto key = FakeProtectedKeyProvider::sampleKey(3);

// Counts every keyring and file-system call of the save, and kills the
// process just before the chosen one.
std::atomic<int> stepsTaken = 0;
int killedAt = 0;

void step()
{
    if (++stepsTaken == killedAt)
        ::kill(::getpid(), SIGKILL);
}

class SteppedKeyring final : public SecretStoring {
public:
    std::optional<QString> readSecret(const QString &account) override { return step(), m_keyring.readSecret(account); }
    void saveSecret(const QString &account, const QString &value) override
    {
        step();
        m_keyring.saveSecret(account, value);
    }
    void deleteSecret(const QString &account) override
    {
        step();
        m_keyring.deleteSecret(account);
    }
    QStringList allAccounts() override { return step(), m_keyring.allAccounts(); }

private:
    KeychainSecretStore m_keyring;
};

class SteppedCalls final : public FileSystemCalls {
public:
    int open(const char *p, int f, mode_t m) override { return step(), FileSystemCalls::open(p, f, m); }
    ssize_t read(int d, void *b, size_t n) override { return step(), FileSystemCalls::read(d, b, n); }
    ssize_t pread(int d, void *b, size_t n, off_t at) override { return step(), FileSystemCalls::pread(d, b, n, at); }
    ssize_t write(int d, const void *b, size_t n) override { return step(), FileSystemCalls::write(d, b, n); }
    int fdatasync(int fd) override { return step(), FileSystemCalls::fdatasync(fd); }
    int fsync(int fd) override { return step(), FileSystemCalls::fsync(fd); }
    int close(int fd) override { return step(), FileSystemCalls::close(fd); }
    int rename(const char *from, const char *to) override { return step(), FileSystemCalls::rename(from, to); }
    int unlink(const char *path) override { return step(), FileSystemCalls::unlink(path); }
};

[[noreturn]] void runSave(const QString &path, int killAt)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    static SteppedCalls calls;
    FileSystemCalls::replaceForTesting(&calls);
    killedAt = killAt;
    EnvironmentProfilesRepository repository(path, std::make_shared<SteppedKeyring>());
    await(repository.saveProfile(newProfile(), std::nullopt));
    std::_Exit(0);
}

// The variables a fresh load shows, as "KEY=value".
QStringList shown(const EnvironmentProfile &loaded)
{
    QStringList pairs;
    for (const EnvironmentVariable &variable : loaded.variables)
        pairs.append(variable.key + QLatin1Char('=') + variable.value);
    return pairs;
}

struct Seen {
    QStringList prod, vault, other;
};

Seen seen(const QString &path)
{
    EnvironmentProfilesRepository repository(path);
    Seen result;
    for (const EnvironmentProfile &loaded : await(repository.loadProfiles()).profiles) {
        if (loaded.id == oldProfile().id)
            result.prod = shown(loaded);
        else if (loaded.id == other.id)
            result.other = shown(loaded);
    }
    result.vault = shown(await(repository.loadProtectedProfile(vault.id, key)));
    return result;
}

} // namespace

// The save runs in a child process killed just before each of its keyring
// and file-system calls in turn, until one run goes through. Each kill leaves
// the old profile with every old value or the new one with every new value;
// the next save, with a protected profile present, then leaves exactly the
// items the profiles name, the other profiles' values untouched.
TEST(ProfileSaveCrash, AKillAtEveryStepLeavesTheOldOrTheNewProfileWhole)
{
    if (qEnvironmentVariableIsSet(stepVariable))
        runSave(qEnvironmentVariable(pathVariable), qEnvironmentVariableIntValue(stepVariable));
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    KeychainSecretStore keyring;
    const QString path = applicationSupportDirectory() + QStringLiteral("/environments.json");
    const QStringList oldValues = shown(oldProfile());
    const QStringList newValues = shown(newProfile());
    const QStringList vaultValues = shown(vault);
    const QStringList otherValues = shown(other);

    int finishedAt = 0;
    for (int killAt = 1; finishedAt == 0 && killAt < 400; ++killAt) {
        SCOPED_TRACE(killAt);
        KeyringTestLock::removeAllItems();
        QFile::remove(path);
        {
            EnvironmentProfilesRepository repository(path);
            EnvironmentProfile first = oldProfile();
            first.variables[0].value = QStringLiteral("a0");
            await(repository.saveProfile(first, std::nullopt));
            await(repository.saveProfile(oldProfile(), std::nullopt));
            await(repository.saveProfile(vault, key));
            await(repository.saveProfile(other, std::nullopt));
        }

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(stepVariable), QString::number(killAt));
        environment.insert(QString::fromLatin1(pathVariable), path);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=ProfileSaveCrash.AKillAtEveryStepLeavesTheOldOrTheNewProfileWhole")});
        ASSERT_TRUE(child.waitForFinished(60'000));
        if (child.exitStatus() == QProcess::NormalExit) {
            ASSERT_EQ(child.exitCode(), 0);
            finishedAt = killAt;
        }

        Seen after = seen(path);
        EXPECT_TRUE(after.prod == oldValues || after.prod == newValues) << after.prod.join(u',').toStdString();
        if (finishedAt) {
            EXPECT_EQ(after.prod, newValues);
        }
        EXPECT_EQ(after.vault, vaultValues);
        EXPECT_EQ(after.other, otherValues);

        // A, B and E of prod, the vault's and the other profile's: five items, none left over.
        EnvironmentProfilesRepository repository(path);
        await(repository.saveProfile(newProfile(), std::nullopt));
        after = seen(path);
        EXPECT_EQ(after.prod, newValues);
        EXPECT_EQ(after.vault, vaultValues);
        EXPECT_EQ(after.other, otherValues);
        EXPECT_EQ(keyring.allAccounts().size(), 5) << keyring.allAccounts().join(u',').toStdString();
    }
    EXPECT_GT(finishedAt, 20) << "the save should take many steps";
    RecordProperty("steps", finishedAt - 1);
}
