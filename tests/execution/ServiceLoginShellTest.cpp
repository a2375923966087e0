#include "ServiceManagerFixture.h"

#include "execution/CommandThreatApproval.h"
#include "execution/CommandThreatScanner.h"
#include "execution/SudoHelper.h"
#include "platform/LoginShell.h"
#include "support/ThrowawayAccount.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

namespace {

// Set in the copy of this program that runs as the throwaway account.
constexpr char asAccountMark[] = "VELMORA_RUN_AS_LOGIN_SHELL_ACCOUNT";
const QByteArray probeSays = "probe found on the profile PATH as ";

// unshare's arguments for a /proc of its own that hides other users' processes from the command that follows.
const QStringList hidingOtherUsers = QStringLiteral("--mount --propagation=private sh -c").split(u' ')
                                     << QStringLiteral("mount -t proc -o hidepid=2 proc /proc && exec \"$@\"")
                                     << QStringLiteral("sh");

// Runs the current test in a copy of this program as the account, whose home is `home` in `base`, with nothing
// of our environment but what a sanitizer build needs and `variables`, `input` on its standard input; fails the
// test unless the copy passes.
QByteArray runThisTestAs(const ThrowawayAccount &account, const QTemporaryDir &base, const QStringList &variables,
                         const QByteArray &input = {}, bool hidePids = false)
{
    // The account's home sits in a folder only root may list, but the account may pass.
    QFile::setPermissions(base.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const QString home = base.filePath(QStringLiteral("home"));
    const QString program = home + QStringLiteral("/execution-tests");
    const std::optional<QString> leaks = account.leakOptionsIn(home);
    // A runtime folder of its own, inside its home, so that Qt makes none in the temporary folder.
    const QString runtime = home + QStringLiteral("/runtime");
    // The sudo helper beside the copy, as the build puts it beside the binary: the build's may lie where the
    // account cannot go.
    if (!account.copyIn(QStringLiteral("/proc/self/exe"), program)
        || !account.copyIn(SudoHelper::find().path, home + QLatin1Char('/') + SudoHelper::fileName) || !leaks
        || !QDir().mkdir(runtime)
        || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !account.giveOwnership(runtime)) {
        ADD_FAILURE() << "could not set up the account's home";
        return {};
    }
    QStringList arguments =
        QStringLiteral("--reuid=%1 --regid=%2 --init-groups -- env -i TMPDIR=/tmp PATH=/usr/local/bin:/usr/bin:/bin")
            .arg(account.uid())
            .arg(account.gid())
            .split(QLatin1Char(' '));
    arguments << QStringLiteral("HOME=") + home << QStringLiteral("XDG_RUNTIME_DIR=") + runtime << variables;
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            arguments << QString::fromLatin1(name) + QLatin1Char('=') + qEnvironmentVariable(name);
    }
    if (!leaks->isEmpty())
        arguments << *leaks;
    const ::testing::TestInfo &test = *::testing::UnitTest::GetInstance()->current_test_info();
    arguments << program << QStringLiteral("--gtest_filter=*.") + QString::fromUtf8(test.name());
    QProcess run;
    run.setWorkingDirectory(home);
    run.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList hiding = hidePids ? QStringList(hidingOtherUsers) << QStringLiteral("setpriv") : QStringList();
    run.start(hidePids ? QStringLiteral("unshare") : QStringLiteral("setpriv"), hiding + arguments);
    run.write(input);
    run.closeWriteChannel();
    const bool ended = run.waitForFinished(60000);
    QByteArray output = run.readAll();
    EXPECT_TRUE(ended) << "the run as the account did not end: " << output.toStdString();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
    return output;
}

} // namespace

// A person whose login shell is bash keeps PATH additions in ~/.profile, as
// bash reads it at login. A service of theirs calls a program found only on
// that PATH, with no shell chosen in Settings.
TEST_F(ServiceManagerTest, ServiceOfABashAccountFindsAProgramOnItsProfilePath)
{
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

    QTemporaryDir base;
    const QString home = base.filePath(QStringLiteral("home"));
    const ThrowawayAccount account(ThrowawayAccount::Login::shell, home);
    ASSERT_TRUE(account.created()) << "useradd/chpasswd failed";
    ASSERT_TRUE(account.setLoginShell(QStringLiteral("/bin/bash")));
    ASSERT_EQ(loginShellOf(account.uid()), QStringLiteral("/bin/bash"));
    const QByteArray output = runThisTestAs(account, base, {QString::fromLatin1(asAccountMark) + QStringLiteral("=1")});
    EXPECT_TRUE(output.contains(probeSays + account.name().toUtf8())) << output.toStdString();
}

namespace {

constexpr char realSudoMark[] = "VELMORA_RUN_AS_SUDO_ACCOUNT";
constexpr char decoyInProfileMark[] = "VELMORA_DECOY_IN_PROFILE";
constexpr char preloadMark[] = "VELMORA_PRELOAD_DECOY";
constexpr char hiddenSudoMark[] = "VELMORA_SUDO_HIDDEN";

// A program of the user's own after the password: it reads the prompt off a command line of the user's, keeps
// a set-uid sudo carrying it alive, then shows it itself and notes in ~/spoof.log the line the terminal gives.
const QByteArray realDecoy = R"sh(
prompt=$(ps -ww -u "$(id -u)" -o args= | grep -o '\[Velmora sudo [-0-9A-F]*\] password: ' | head -n 1)
( sleep 3 | /usr/bin/sudo -S -p "$prompt" sleep 3 ) >/dev/null 2>&1 &
sleep 0.5
printf '%s' "$prompt"
if read -t 2 -r got; then printf '%s\n' "$got" >> "$HOME/spoof.log"; fi
)sh";

} // namespace

// With the system's sudo and a sudoers rule for the account: the service's
// sudo runs as root with the account's password, and neither a start-up file
// nor the service's own code that shows the prompt later is answered.
// Nor a profile's LD_PRELOAD; where /proc hides sudo, the wait ends.
TEST_F(ServiceManagerTest, RealSudoRunsAsRootAndNoDecoyGetsThePassword)
{
    if (qEnvironmentVariableIsSet(realSudoMark)) {
        QFile in;
        ASSERT_TRUE(in.open(stdin, QIODevice::ReadOnly));
        const auto password = std::make_shared<const SensitiveBytes>(QByteArrayView(in.readLine()).chopped(1));
        const QString spoofLog = QDir::homePath() + QStringLiteral("/spoof.log");
        if (qEnvironmentVariableIsSet(decoyInProfileMark))
            ChildProcessProbe::writeExecutable(QDir::homePath() + QStringLiteral("/.profile"), realDecoy);
        const QString readLog = QDir::homePath() + QStringLiteral("/read.log");
        std::optional<QUuid> profile;
        if (qEnvironmentVariableIsSet(preloadMark))
            profile = saveProfile(QStringLiteral("decoy"),
                                  {{QUuid::createUuid(), QStringLiteral("LD_PRELOAD"),
                                    qEnvironmentVariable(preloadMark), false},
                                   {QUuid::createUuid(), QStringLiteral("VELMORA_READ_LOG"), readLog, false}},
                                  false)
                          .id;
        settings.apply(AppSettings());
        const ManagedService service =
            addService(QStringLiteral("root"), qEnvironmentVariable("VELMORA_SUDO_COMMAND"), profile);
        // As the person does who has read the warning about sudo.
        await(manager.start(service.id, password,
                            CommandThreatApproval {CommandThreatScanner::fingerprint(service.command)}));
        const bool stopped = waitForStopped(service.id);
        // A decoy that got the password leaves the wrapper's sudo waiting for it.
        EXPECT_FALSE(QFile::exists(spoofLog));
        ASSERT_TRUE(stopped);
        const QList<ServiceRunRecord> done = runs(service.id);
        ASSERT_EQ(done.size(), 1);
        const QString output = outputOf(done.first());
        if (qEnvironmentVariableIsSet(hiddenSudoMark)) {
            EXPECT_TRUE(output.contains(QStringLiteral("hides sudo's process")) && done.first().exitCode == 1)
                << output.toStdString();
            return;
        }
        QFile read(readLog);
        EXPECT_FALSE(read.open(QIODevice::ReadOnly) && read.readAll().contains(password->view().toByteArray()));
        EXPECT_EQ(QFile::exists(readLog), qEnvironmentVariableIsSet(preloadMark));
        // What id printed, on a line of its own or after a decoy's prompt.
        static const QRegularExpression root(QStringLiteral("(^| )0\r?$"), QRegularExpression::MultilineOption);
        EXPECT_TRUE(root.match(output).hasMatch()) << output.toStdString();
        EXPECT_FALSE(output.contains(QString::fromUtf8(password->view().toByteArray()))) << output.toStdString();
        return;
    }
    if (::geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/bin/sudo")))
        GTEST_SKIP() << "needs root and the system's sudo";

    const QString decoyCommand = QStringLiteral("sudo id -u; ") + QString::fromUtf8(realDecoy);
    const bool canHidePids =
        QProcess::execute(QStringLiteral("unshare"), QStringList(hidingOtherUsers) << QStringLiteral("true")) == 0;
    const struct {
        const char *what;
        const char *rule;
        QString command;
        const char *mark = nullptr;
    } cases[] = {
        {"the password opens sudo", "ALL", QStringLiteral("sudo id -u")},
        {"a start-up file decoy", "ALL", QStringLiteral("sudo id -u"), decoyInProfileMark},
        {"the service's own decoy after a sudo that did not ask", "NOPASSWD: ALL", decoyCommand},
        {"a profile's LD_PRELOAD decoy", "ALL", QStringLiteral("sudo id -u"), preloadMark},
        {"sudo hidden by /proc's hidepid", "ALL", QStringLiteral("sudo id -u"), hiddenSudoMark},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        const bool hidePids = test.mark == hiddenSudoMark;
        if (hidePids && !canHidePids)
            continue;
        QTemporaryDir base;
        // sudo keeps its ticket per user, and would ignore a rule file whose mode is not 0440. Both
        // go once the account has gone, since a decoy's sudo may still renew the ticket till then.
        QStringList leftBehind;
        const auto removeLeftBehind = qScopeGuard([&] {
            for (const QString &path : std::as_const(leftBehind)) {
                QFile::remove(path);
                ThrowawayAccount::removeOnSignal(path, false);
            }
        });
        const ThrowawayAccount account(ThrowawayAccount::Login::shell, base.filePath(QStringLiteral("home")));
        ASSERT_TRUE(account.created()) << "useradd/chpasswd failed";
        ASSERT_TRUE(account.setLoginShell(QStringLiteral("/bin/bash")));
        leftBehind = {QStringLiteral("/etc/sudoers.d/") + account.name(),
                      QStringLiteral("/run/sudo/ts/") + account.name()};
        for (const QString &path : std::as_const(leftBehind))
            ThrowawayAccount::removeOnSignal(path);
        QFile rule(leftBehind.first());
        ASSERT_TRUE(rule.open(QIODevice::WriteOnly));
        rule.write(QStringLiteral("Defaults:%1 lecture=never\n%1 ALL=(ALL) %2\n")
                       .arg(account.name(), QString::fromLatin1(test.rule))
                       .toUtf8());
        rule.close();
        ASSERT_TRUE(rule.setPermissions(QFile::ReadOwner | QFile::ReadGroup));
        QStringList variables {QString::fromLatin1(realSudoMark) + QStringLiteral("=1"),
                               QStringLiteral("VELMORA_SUDO_COMMAND=") + test.command};
        const QString logger = base.filePath(QStringLiteral("home/read-logger.so"));
        ASSERT_TRUE(test.mark != preloadMark || account.copyIn(QStringLiteral(VELMORA_READ_LOGGER), logger));
        if (test.mark)
            variables << QString::fromLatin1(test.mark) + QLatin1Char('=')
                             + (test.mark == preloadMark ? logger : QStringLiteral("1"));
        runThisTestAs(account, base, variables, account.password() + '\n', hidePids);
    }
    if (!canHidePids)
        GTEST_SKIP() << "the case of sudo hidden by /proc's hidepid needs a mount namespace of its own (unshare)";
}
