#include "support/Await.h"
#include "support/TestEnvironment.h"
#include "support/ThrowawayAccount.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace {

bool accountExists(const QString &name)
{
    return ::getpwnam(QFile::encodeName(name).constData()) != nullptr;
}

// Whether any account still names the process with this id as its maker.
bool accountMadeBy(qint64 pid)
{
    const QByteArray mark = "velmora-test maker=" + QByteArray::number(pid) + '/';
    bool found = false;
    ::setpwent();
    while (const passwd *entry = ::getpwent())
        found = found || QByteArray(entry->pw_gecos).startsWith(mark);
    ::endpwent();
    return found;
}

} // namespace

// Run on its own by the test below: makes an account with a home in a temporary folder, as the walk
// does, starts a process of the account's own, says what it made, waits to be ended.
TEST(ThrowawayAccount, DISABLED_HoldsAnAccountUntilEnded)
{
    QTemporaryDir base;
    ThrowawayAccount::removeOnSignal(base.path());
    const ThrowawayAccount account(ThrowawayAccount::Login::shell, base.filePath(QStringLiteral("home")));
    ASSERT_TRUE(account.created());
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(account.uid()),
                                                                    QStringLiteral("--regid=%1").arg(account.gid()),
                                                                    QStringLiteral("--clear-groups"),
                                                                    QStringLiteral("sleep"), QStringLiteral("60")}));
    std::printf("account=%s %s %s\n", qPrintable(account.name()), qPrintable(base.path()),
                qPrintable(TestEnvironment::home()));
    std::fflush(stdout);
    ::sleep(60);
}

TEST(ThrowawayAccount, NoAccountOrFolderOutlivesItsMakerEndedBySignalOrKilled)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "test accounts are made as root only";

    // Ended by a signal: the maker removes its account and its folders on the way out; the home
    // of its own test environment, which a program ended so keeps, is its parent's to remove.
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        QProcess maker;
        maker.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_also_run_disabled_tests"),
                                                              QStringLiteral("--gtest_filter=*.DISABLED_Holds*")});
        QByteArray output;
        const auto saidName = [&] {
            output += maker.readAllStandardOutput();
            return output.contains("account=") && output.indexOf('\n', output.indexOf("account=")) > 0;
        };
        ASSERT_TRUE(waitUntil(saidName, 30000)) << output.toStdString();
        const QStringList made =
            QString::fromUtf8(output.mid(output.indexOf("account=") + 8).split('\n').first()).split(QLatin1Char(' '));
        ASSERT_EQ(made.size(), 3);
        ASSERT_TRUE(accountExists(made[0]));
        ::kill(pid_t(maker.processId()), signalNumber);
        ASSERT_TRUE(maker.waitForFinished(30000));
        EXPECT_TRUE(QDir(made[2]).removeRecursively());
        EXPECT_FALSE(accountExists(made[0]) || accountMadeBy(maker.processId())) << signalNumber;
        EXPECT_FALSE(QFileInfo::exists(made[1])) << signalNumber;
        EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/runtime-") + made[0])) << signalNumber;
    }

    // Killed outright: the next account made removes it, going by the maker named in its comment
    // field; our own pid with a start time it never had stands for a maker that is gone. (A test
    // program starting beside this one may remove it first, as it should.)
    const QString name = QStringLiteral("vtest") + QUuid::createUuid().toString(QUuid::Id128).left(10);
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("useradd"),
                          QStringLiteral("--no-create-home --shell /usr/sbin/nologin --comment").split(QLatin1Char(' '))
                              << QStringLiteral("velmora-test maker=%1/1").arg(::getpid()) << name),
        0);
    const ThrowawayAccount next(ThrowawayAccount::Login::none);
    EXPECT_FALSE(accountExists(name));
    if (accountExists(name))
        QProcess::execute(QStringLiteral("userdel"), {name});
}
