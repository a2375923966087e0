#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ApplicationSupport.h"
#include "records/FileSystemCalls.h"
#include "support/Await.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/KeyringTestLock.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>

namespace {

const char stepVariable[] = "VELMORA_TEST_PROFILE_SAVE_KILLED_AT";
const ProtectedPayloadCrypto key = FakeProtectedKeyProvider::sampleKey(3);

QUuid fixedId(int n)
{
    return QUuid(QStringLiteral("%1-2222-4333-8444-555555555555").arg(n, 8, 10, QLatin1Char('0')));
}

// "KEY=value" for a secret, "KEY:value" for a plain variable, each with an id of its own.
EnvironmentProfile profile(int id, std::initializer_list<const char *> variables, bool isProtected = false)
{
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    EnvironmentProfile made {fixedId(id), QString::number(id), {}, isProtected, stamp, stamp};
    for (const char *variable : variables) {
        const QString text = QString::fromLatin1(variable);
        const qsizetype at = std::max(text.indexOf(u'='), text.indexOf(u':'));
        made.variables.append(
            {fixedId(id * 100 + text.at(0).unicode()), text.left(at), text.mid(at + 1), text.at(at) == u'='});
    }
    return made;
}

// The save changes A, keeps B, clears C, removes D, adds E and changes plain X.
const EnvironmentProfile before = profile(1, {"A=a1", "B=b1", "C=c1", "D=d1", "X:x1"});
const EnvironmentProfile after = profile(1, {"A=a2", "B=b1", "C=", "E=e2", "X:x2"});
const EnvironmentProfile vault = profile(2, {"S=vault-secret"}, true);
const EnvironmentProfile other = profile(3, {"R=other-secret"});

// Every keyring and file-system call of the child's save is a step; it dies just before the chosen one.
int stepsLeft = 0;
void step()
{
    if (--stepsLeft == 0)
        ::kill(::getpid(), SIGKILL);
}

struct SteppedKeyring final : SecretStoring {
    KeychainSecretStore keyring;
    std::optional<QString> readSecret(const QString &a) override { return step(), keyring.readSecret(a); }
    void saveSecret(const QString &a, const QString &v) override { step(), keyring.saveSecret(a, v); }
    void deleteSecret(const QString &a) override { step(), keyring.deleteSecret(a); }
    QStringList allAccounts() override { return step(), keyring.allAccounts(); }
};

struct SteppedCalls final : FileSystemCalls {
    int open(const char *p, int f, mode_t m) override { return step(), FileSystemCalls::open(p, f, m); }
    ssize_t read(int d, void *b, size_t n) override { return step(), FileSystemCalls::read(d, b, n); }
    ssize_t write(int d, const void *b, size_t n) override { return step(), FileSystemCalls::write(d, b, n); }
    int fdatasync(int fd) override { return step(), FileSystemCalls::fdatasync(fd); }
    int fsync(int fd) override { return step(), FileSystemCalls::fsync(fd); }
    int close(int fd) override { return step(), FileSystemCalls::close(fd); }
    int rename(const char *from, const char *to) override { return step(), FileSystemCalls::rename(from, to); }
};

QStringList shown(const EnvironmentProfile &loaded)
{
    QStringList pairs;
    for (const EnvironmentVariable &variable : loaded.variables)
        pairs.append(variable.key + (variable.isSecret ? u'=' : u':') + variable.value);
    return pairs;
}

// What a fresh load shows of the three profiles.
QList<QStringList> seen(const QString &path)
{
    EnvironmentProfilesRepository repository(path);
    const QList<EnvironmentProfile> loaded = await(repository.loadProfiles()).profiles;
    EXPECT_EQ(loaded.size(), 3);
    return {shown(loaded.value(0)), shown(await(repository.loadProtectedProfile(vault.id, key)).profile),
            shown(loaded.value(2))};
}

} // namespace

// The save runs in a child killed before each of its calls in turn, until one
// run goes through. Each kill leaves the old values or the new ones, never a
// mix; the next save, with a protected profile present, leaves exactly the
// items the profiles name and every other value as it was.
TEST(ProfileSaveCrash, AKillAtEveryStepLeavesTheOldOrTheNewProfileWhole)
{
    const QString path = applicationSupportDirectory() + QStringLiteral("/environments.json");
    if (qEnvironmentVariableIsSet(stepVariable)) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        static SteppedCalls calls;
        FileSystemCalls::replaceForTesting(&calls);
        stepsLeft = qEnvironmentVariableIntValue(stepVariable);
        EnvironmentProfilesRepository repository(qEnvironmentVariable("VELMORA_TEST_PROFILES_PATH"),
                                                 std::make_shared<SteppedKeyring>());
        await(repository.saveProfile(after, std::nullopt));
        std::_Exit(0);
    }
    REQUIRE_PRIVATE_KEYRING();
    const KeyringTestLock lock;
    const QList<QStringList> old {shown(before), shown(vault), shown(other)};
    const QList<QStringList> saved {shown(after), shown(vault), shown(other)};
    int killAt = 1;
    for (bool finished = false; !finished && killAt < 400; ++killAt) {
        SCOPED_TRACE(killAt);
        KeyringTestLock::removeAllItems();
        QFile::remove(path);
        {
            EnvironmentProfilesRepository repository(path);
            EnvironmentProfile earlier = before; // A's value then changes once: it has a generation
            earlier.variables[0].value = QStringLiteral("a0");
            for (const EnvironmentProfile &seed : {earlier, before, vault, other})
                await(repository.saveProfile(seed, seed.isProtected ? std::optional(key) : std::nullopt));
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(stepVariable), QString::number(killAt));
        environment.insert(QStringLiteral("VELMORA_TEST_PROFILES_PATH"), path);
        child.setProcessEnvironment(environment);
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=ProfileSaveCrash.AKillAtEveryStepLeavesTheOldOrTheNewProfileWhole")});
        ASSERT_TRUE(child.waitForFinished(60'000));
        finished = child.exitStatus() == QProcess::NormalExit;

        const QList<QStringList> now = seen(path);
        EXPECT_TRUE(now == saved || (!finished && now == old)) << now.value(0).join(u',').toStdString();
        await(EnvironmentProfilesRepository(path).saveProfile(after, std::nullopt));
        EXPECT_EQ(seen(path), saved);
        // A, B, C (emptied) and E, the vault's and the other profile's: nothing left over.
        EXPECT_EQ(KeychainSecretStore().allAccounts().size(), 6);
    }
    EXPECT_GT(killAt, 20) << "the save should take many steps";
}
