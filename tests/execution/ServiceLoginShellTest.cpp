#include "ServiceManagerFixture.h"

#include "platform/LoginShell.h"
#include "support/ThrowawayAccount.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

#include <unistd.h>

namespace {

// Set in the copy of this program that runs as the throwaway account.
constexpr char asAccountMark[] = "VELMORA_RUN_AS_LOGIN_SHELL_ACCOUNT";

bool writeFile(const QString &path, const QByteArray &text, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

} // namespace

// A person whose login shell is bash keeps PATH additions in ~/.profile, as
// bash reads it at login. A service of theirs calls a program found only on
// that PATH, with no shell chosen in Settings.
TEST_F(ServiceManagerTest, ServiceOfABashAccountFindsAProgramOnItsProfilePath)
{
    if (qEnvironmentVariableIsSet(asAccountMark)) {
        ASSERT_EQ(AppSettings().defaultShell, QStringLiteral("/bin/bash"));
        const QString home = QDir::homePath();
        ASSERT_TRUE(QDir(home).mkpath(QStringLiteral("profile-bin")));
        ASSERT_TRUE(writeFile(home + QStringLiteral("/profile-bin/velmora-profile-probe"),
                              "#!/bin/sh\necho \"probe found on the profile PATH as $(id -un)\"\n",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ASSERT_TRUE(writeFile(home + QStringLiteral("/.profile"), "PATH=\"$HOME/profile-bin:$PATH\"\nexport PATH\n",
                              QFile::ReadOwner | QFile::WriteOwner));
        settings.apply(AppSettings());
        const ManagedService probe = addService(QStringLiteral("probe"), QStringLiteral("velmora-profile-probe"));
        await(manager.start(probe.id));
        ASSERT_TRUE(waitForStopped(probe.id));
        ASSERT_EQ(runs(probe.id).size(), 1);
        const ServiceRunRecord run = runs(probe.id).first();
        const QString output = outputOf(run);
        std::printf("[ service  ] %s\n", qUtf8Printable(output.trimmed()));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(output.contains(QStringLiteral("probe found on the profile PATH as "))) << output.toStdString();
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "making an account whose login shell is bash needs root";

    // The account's home sits in a folder only root may list, but the account may pass.
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    QFile::setPermissions(base.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const QString home = base.filePath(QStringLiteral("home"));
    const ThrowawayAccount account(ThrowawayAccount::Login::shell, home);
    ASSERT_TRUE(account.created()) << "useradd/chpasswd failed";
    ASSERT_TRUE(account.setLoginShell(QStringLiteral("/bin/bash")));
    ASSERT_EQ(loginShellOf(account.uid()), QStringLiteral("/bin/bash"));

    // This very program, run as the account, with nothing of this process's
    // environment but what a sanitizer build needs.
    const QString program = home + QStringLiteral("/execution-tests");
    ASSERT_TRUE(account.copyIn(QStringLiteral("/proc/self/exe"), program));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    QStringList environment {QStringLiteral("HOME=") + home, QStringLiteral("TMPDIR=/tmp"),
                             QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin"),
                             QString::fromLatin1(asAccountMark) + QStringLiteral("=1")};
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            environment.append(QString::fromLatin1(name) + QLatin1Char('=') + qEnvironmentVariable(name));
    }
    const std::optional<QString> leaks = account.leakOptionsIn(home);
    ASSERT_TRUE(leaks.has_value());
    if (!leaks->isEmpty())
        environment.append(*leaks);
    const ::testing::TestInfo &test = *::testing::UnitTest::GetInstance()->current_test_info();
    QProcess run;
    run.setWorkingDirectory(home);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("setpriv"),
              QStringList {QStringLiteral("--reuid=%1").arg(account.uid()),
                           QStringLiteral("--regid=%1").arg(account.gid()), QStringLiteral("--init-groups"),
                           QStringLiteral("--"), QStringLiteral("env"), QStringLiteral("-i")}
                  + environment
                  + QStringList {program,
                                 QStringLiteral("--gtest_filter=%1.%2")
                                     .arg(QString::fromUtf8(test.test_suite_name()), QString::fromUtf8(test.name()))});
    const bool ended = run.waitForFinished(60000);
    const QByteArray output = run.readAll();
    ASSERT_TRUE(ended) << "the run as the account did not end: " << output.toStdString();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
    EXPECT_TRUE(output.contains("probe found on the profile PATH as " + account.name().toUtf8()))
        << output.toStdString();
}
