#include "ServiceManagerFixture.h"

#include "platform/LoginShell.h"
#include "support/ThrowawayAccount.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

namespace {

// Set in the copy of this program that runs as the throwaway account.
constexpr char asAccountMark[] = "VELMORA_RUN_AS_LOGIN_SHELL_ACCOUNT";
const QByteArray probeSays = "probe found on the profile PATH as ";

} // namespace

// A person whose login shell is bash keeps PATH additions in ~/.profile, as
// bash reads it at login. A service of theirs calls a program found only on
// that PATH, with no shell chosen in Settings.
TEST_F(ServiceManagerTest, ServiceOfABashAccountFindsAProgramOnItsProfilePath)
{
    const ::testing::TestInfo &test = *::testing::UnitTest::GetInstance()->current_test_info();
    if (qEnvironmentVariableIsSet(asAccountMark)) {
        ASSERT_EQ(AppSettings().defaultShell, QStringLiteral("/bin/bash"));
        ChildProcessProbe::writeExecutable(QDir::homePath() + QStringLiteral("/velmora-profile-probe"),
                                           "#!/bin/sh\necho \"" + probeSays + "$(id -un)\"\n");
        ChildProcessProbe::writeExecutable(QDir::homePath() + QStringLiteral("/.profile"),
                                           "export PATH=\"$HOME:$PATH\"\n");
        settings.apply(AppSettings());
        const ManagedService probe = addService(QStringLiteral("probe"), QStringLiteral("velmora-profile-probe"));
        await(manager.start(probe.id));
        ASSERT_TRUE(waitForStopped(probe.id));
        const QList<ServiceRunRecord> done = runs(probe.id);
        ASSERT_EQ(done.size(), 1);
        EXPECT_EQ(done.first().exitCode, 0);
        // Checked, with the account's name, by the run below.
        std::printf("[ service  ] %s\n", qUtf8Printable(outputOf(done.first()).trimmed()));
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "making an account whose login shell is bash needs root";

    // The account's home sits in a folder only root may list, but the account may pass.
    QTemporaryDir base;
    QFile::setPermissions(base.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const QString home = base.filePath(QStringLiteral("home"));
    const ThrowawayAccount account(ThrowawayAccount::Login::shell, home);
    ASSERT_TRUE(account.created()) << "useradd/chpasswd failed";
    ASSERT_TRUE(account.setLoginShell(QStringLiteral("/bin/bash")));
    ASSERT_EQ(loginShellOf(account.uid()), QStringLiteral("/bin/bash"));
    const QString program = home + QStringLiteral("/execution-tests");
    ASSERT_TRUE(account.copyIn(QStringLiteral("/proc/self/exe"), program));
    const std::optional<QString> leaks = account.leakOptionsIn(home);
    ASSERT_TRUE(leaks.has_value());
    // A runtime folder of its own, inside its home, so that Qt makes none in the temporary folder.
    const QString runtime = home + QStringLiteral("/runtime");
    ASSERT_TRUE(QDir().mkdir(runtime)
                && QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
                && account.giveOwnership(runtime));

    // This very test as the account, with nothing of our environment but what a sanitizer build needs.
    QStringList arguments =
        QStringLiteral("--reuid=%1 --regid=%2 --init-groups -- env -i TMPDIR=/tmp PATH=/usr/local/bin:/usr/bin:/bin")
            .arg(account.uid())
            .arg(account.gid())
            .split(QLatin1Char(' '));
    arguments << QStringLiteral("HOME=") + home << QStringLiteral("XDG_RUNTIME_DIR=") + runtime
              << QString::fromLatin1(asAccountMark) + QStringLiteral("=1");
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            arguments << QString::fromLatin1(name) + QLatin1Char('=') + qEnvironmentVariable(name);
    }
    if (!leaks->isEmpty())
        arguments << *leaks;
    arguments << program << QStringLiteral("--gtest_filter=*.") + QString::fromUtf8(test.name());
    QProcess run;
    run.setWorkingDirectory(home);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("setpriv"), arguments);
    const bool ended = run.waitForFinished(60000);
    const QByteArray output = run.readAll();
    ASSERT_TRUE(ended) << "the run as the account did not end: " << output.toStdString();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
    EXPECT_TRUE(output.contains(probeSays + account.name().toUtf8())) << output.toStdString();
}
