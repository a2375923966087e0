#include "support/Await.h"
#include "support/ThrowawayAccount.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace {

bool accountExists(const QString &name)
{
    return ::getpwnam(QFile::encodeName(name).constData()) != nullptr;
}

} // namespace

// Run on its own by the test below: makes an account, says its name, waits to be ended.
TEST(ThrowawayAccount, DISABLED_HoldsAnAccountUntilEnded)
{
    const ThrowawayAccount account(ThrowawayAccount::Login::none);
    ASSERT_TRUE(account.created());
    std::printf("account=%s\n", qPrintable(account.name()));
    std::fflush(stdout);
    ::sleep(60);
}

TEST(ThrowawayAccount, NoAccountOutlivesItsMakerEndedBySignalOrKilled)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "test accounts are made as root only";

    // Ended by SIGTERM or SIGINT: the maker removes its account on the way out.
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        QProcess maker;
        maker.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_also_run_disabled_tests"),
                                                              QStringLiteral("--gtest_filter=*.DISABLED_Holds*")});
        QByteArray output;
        const auto saidName = [&] {
            output += maker.readAllStandardOutput();
            return output.contains("account=");
        };
        ASSERT_TRUE(waitUntil(saidName, 30000)) << output.toStdString();
        const QString name = QString::fromUtf8(output.mid(output.indexOf("account=") + 8).split('\n').first());
        ASSERT_TRUE(accountExists(name));
        ::kill(pid_t(maker.processId()), signalNumber);
        ASSERT_TRUE(maker.waitForFinished(30000));
        EXPECT_FALSE(accountExists(name)) << signalNumber;
    }

    // Killed outright: the next account made removes it, going by the maker named in its comment
    // field; our own pid with a start time it never had stands for a maker that is gone.
    const QString name = QStringLiteral("vtest") + QUuid::createUuid().toString(QUuid::Id128).left(10);
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("useradd"),
                          QStringLiteral("--no-create-home --shell /usr/sbin/nologin --comment").split(QLatin1Char(' '))
                              << QStringLiteral("velmora-test maker=%1/1").arg(::getpid()) << name),
        0);
    ASSERT_TRUE(accountExists(name));
    const ThrowawayAccount next(ThrowawayAccount::Login::none);
    EXPECT_FALSE(accountExists(name));
    if (accountExists(name))
        QProcess::execute(QStringLiteral("userdel"), {name});
}
