#include "execution/ProcessLauncher.h"
#include "execution/ProcessRunnerError.h"
#include "execution/SudoWrapper.h"
#include "platform/SensitiveBytes.h"
#include "platform/SessionEnvironment.h"
#include "support/Await.h"
#include "support/ChildOutputRecorder.h"
#include "support/LogCapture.h"
#include "support/StoredProtectedProfile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <pthread.h>

using namespace ChildProcessProbe;

namespace {

ProcessLaunchConfiguration shellCommand(const QString &command, bool pseudoTerminal = true)
{
    ProcessLaunchConfiguration configuration;
    configuration.rawCommand = command;
    configuration.useShell = true;
    configuration.shellPath = QStringLiteral("/bin/sh");
    configuration.usePseudoTerminal = pseudoTerminal;
    return configuration;
}

ProcessLaunchConfiguration program(const QString &path, const QStringList &arguments, bool pseudoTerminal = true)
{
    ProcessLaunchConfiguration configuration;
    configuration.executableURL = QUrl::fromLocalFile(path);
    configuration.arguments = arguments;
    configuration.usePseudoTerminal = pseudoTerminal;
    return configuration;
}

struct Finished {
    QString text;      // as handed over
    QString collected; // as kept by the handle
    ProcessExitStatus status;
};

Finished runToEnd(const ProcessLaunchConfiguration &configuration)
{
    const auto handle = launchProcess(configuration);
    ChildOutputRecorder recorder(handle);
    EXPECT_TRUE(recorder.waitForExit());
    return {recorder.text(), handle->collectedOutput(), recorder.exitStatus().value_or(ProcessExitStatus {true, -1})};
}

QMap<QString, QString> environmentLines(const QString &text)
{
    QMap<QString, QString> result;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            result.insert(line.left(equals), line.mid(equals + 1));
    }
    return result;
}

} // namespace

TEST(ProcessLaunch, ChoosesProgramArgumentsAndLogText)
{
    QTemporaryDir folder;
    const QString fakeShell = folder.filePath(QStringLiteral("fake-shell"));
    writeExecutable(fakeShell, "#!/bin/sh\nfor word; do printf '[%s]\\n' \"$word\"; done\n");

    struct Case {
        const char *name;
        ProcessLaunchConfiguration configuration;
        QString expectedOutput;
        QString expectedLogPath;
    };
    ProcessLaunchConfiguration raw;
    raw.rawCommand = QStringLiteral("echo \"$HOME\" | wc -c");
    raw.useShell = true;
    raw.shellPath = fakeShell;
    ProcessLaunchConfiguration quotedWords;
    quotedWords.executableURL = QUrl::fromLocalFile(QStringLiteral("/usr/bin/env"));
    quotedWords.arguments = {QStringLiteral("it's")};
    quotedWords.useShell = true;
    quotedWords.shellPath = fakeShell;
    ProcessLaunchConfiguration direct;
    direct.executableURL = QUrl::fromLocalFile(fakeShell);
    direct.arguments = {QStringLiteral("a b"), QStringLiteral("it's")};
    direct.shellPath = QStringLiteral("/nonexistent-shell");
    const Case cases[] = {
        {"raw command through the login shell", raw, QStringLiteral("[-lc]\n[echo \"$HOME\" | wc -c]\n"),
         fakeShell + QStringLiteral(" -lc <command>")},
        {"executable quoted into the shell's command", quotedWords,
         QStringLiteral("[-lc]\n['/usr/bin/env' 'it'\\''s']\n"), QStringLiteral("/usr/bin/env")},
        {"executable run directly", direct, QStringLiteral("[a b]\n[it's]\n"), fakeShell},
    };
    for (const Case &testCase : cases) {
        for (const bool pseudoTerminal : {true, false}) {
            SCOPED_TRACE(std::string(testCase.name) + (pseudoTerminal ? " (terminal)" : " (pipes)"));
            ProcessLaunchConfiguration configuration = testCase.configuration;
            configuration.usePseudoTerminal = pseudoTerminal;
            LogCapture log;
            const auto handle = launchProcess(configuration);
            ChildOutputRecorder recorder(handle);
            ASSERT_TRUE(recorder.waitForExit());
            EXPECT_EQ(recorder.text(), testCase.expectedOutput);
            EXPECT_TRUE(log.contains(QStringLiteral("Launched process pid=%1 path=%2")
                                         .arg(handle->processIdentifier())
                                         .arg(testCase.expectedLogPath)))
                << log.messages().join(QLatin1Char('\n')).toStdString();
        }
    }
}

TEST(ProcessLaunch, FailuresLeaveNothingOpen)
{
    const int descriptorsBefore = int(openDescriptors(::getpid()).size());

    ProcessLaunchConfiguration nothing;
    nothing.usePseudoTerminal = true;
    ProcessLaunchConfiguration commandWithoutShell;
    commandWithoutShell.rawCommand = QStringLiteral("true");
    commandWithoutShell.usePseudoTerminal = true;
    for (const ProcessLaunchConfiguration &configuration : {nothing, commandWithoutShell}) {
        try {
            launchProcess(configuration);
            ADD_FAILURE() << "launched without a program";
        } catch (const ProcessRunnerError &error) {
            EXPECT_EQ(error.errorCase(), ProcessRunnerError::Case::missingExecutable);
            EXPECT_EQ(error.message(), QStringLiteral("No executable or command was provided to launch."));
        }
    }

    for (const bool pseudoTerminal : {true, false}) {
        ProcessLaunchConfiguration missingShell = shellCommand(QStringLiteral("true"), pseudoTerminal);
        missingShell.shellPath = QStringLiteral("/nonexistent/zsh");
        try {
            launchProcess(missingShell);
            ADD_FAILURE() << "launched a missing shell";
        } catch (const ProcessRunnerError &error) {
            EXPECT_EQ(error.errorCase(), ProcessRunnerError::Case::launchFailed);
            EXPECT_EQ(error.message(), QStringLiteral("Could not start /nonexistent/zsh: No such file or directory"));
        }
        ProcessLaunchConfiguration missingFolder = shellCommand(QStringLiteral("true"), pseudoTerminal);
        missingFolder.workingDirectory = QStringLiteral("/nonexistent-folder");
        try {
            launchProcess(missingFolder);
            ADD_FAILURE() << "launched in a missing folder";
        } catch (const ProcessRunnerError &error) {
            EXPECT_EQ(error.message(),
                      QStringLiteral("Could not enter the folder /nonexistent-folder: No such file or directory"));
        }
    }
    EXPECT_EQ(int(openDescriptors(::getpid()).size()), descriptorsBefore);
}

TEST(ProcessLaunch, EnvironmentGetsTerminalDefaultsOnlyWhenAbsent)
{
    ::unsetenv("TERM");
    ::unsetenv("PYTHONUNBUFFERED");
    const QString env = QStringLiteral("/usr/bin/env");

    auto seen = environmentLines(runToEnd(program(env, {})).text);
    EXPECT_EQ(seen.value(QStringLiteral("TERM")), QStringLiteral("xterm-256color"));
    EXPECT_EQ(seen.value(QStringLiteral("PYTHONUNBUFFERED")), QStringLiteral("1"));
    EXPECT_EQ(seen.value(QStringLiteral("HOME")), QDir::homePath());

    ProcessLaunchConfiguration given = program(env, {});
    given.environment = {{QStringLiteral("TERM"), QStringLiteral("dumb")},
                         {QStringLiteral("HOME"), QStringLiteral("/elsewhere")},
                         {QStringLiteral("GREETING"), QStringLiteral("grüß dich")}};
    seen = environmentLines(runToEnd(given).text);
    EXPECT_EQ(seen.value(QStringLiteral("TERM")), QStringLiteral("dumb"));
    EXPECT_EQ(seen.value(QStringLiteral("HOME")), QStringLiteral("/elsewhere"));
    EXPECT_EQ(seen.value(QStringLiteral("GREETING")), QStringLiteral("grüß dich"));

    ::setenv("TERM", "vt100", 1);
    seen = environmentLines(runToEnd(program(env, {})).text);
    EXPECT_EQ(seen.value(QStringLiteral("TERM")), QStringLiteral("vt100"));
    ::unsetenv("TERM");

    seen = environmentLines(runToEnd(program(env, {}, false)).text);
    EXPECT_FALSE(seen.contains(QStringLiteral("TERM")));
    EXPECT_FALSE(seen.contains(QStringLiteral("PYTHONUNBUFFERED")));
}

// The start sets DISPLAY aside beside a silent X display and picks its own window
// platform; a service still gets what the session gave, unless its profile sets another.
TEST(ProcessLaunch, WhatTheStartChangesInItsOwnEnvironmentReachesNoChild)
{
    ::setenv("DISPLAY", ":7", 1);
    SessionEnvironment::setAside("DISPLAY");
    EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
    ::unsetenv("VELMORA_TEST_PLATFORM");
    SessionEnvironment::setForThisProcess("VELMORA_TEST_PLATFORM", "xcb");
    EXPECT_STREQ(std::getenv("VELMORA_TEST_PLATFORM"), "xcb");
    ProcessLaunchConfiguration env = program(QStringLiteral("/usr/bin/env"), {});
    const auto seen = [&] { return environmentLines(runToEnd(env).text); };
    const auto session = seen();
    EXPECT_FALSE(session.contains(QStringLiteral("VELMORA_TEST_PLATFORM")));
    EXPECT_EQ(session.value(QStringLiteral("DISPLAY")), QStringLiteral(":7"));
    env.environment = {{QStringLiteral("DISPLAY"), QStringLiteral(":8")}};
    EXPECT_EQ(seen().value(QStringLiteral("DISPLAY")), QStringLiteral(":8"));
    env.environment.clear();
    env.environmentOnly = true;
    EXPECT_FALSE(seen().contains(QStringLiteral("DISPLAY")));
}

// Every copy of an environment value a launch makes, plain or through sudo, goes with it.
TEST(ProcessLaunch, ALaunchLeavesNoCopyOfAnEnvironmentValue)
{
    QMap<QString, QString> environment {{QStringLiteral("PLAINV"), StoredProtectedProfile::plainValue()}};
    {
        ProcessLaunchConfiguration configuration = program(QStringLiteral("/bin/true"), {});
        configuration.environment = environment;
        EXPECT_EQ(runToEnd(configuration).status, (ProcessExitStatus {false, 0}));
        const SudoLaunch sudo = makeSudoLaunchConfiguration(QStringLiteral("/bin/sh"), QStringLiteral("true"), {},
                                                            environment, {}, QStringLiteral("/bin/true"));
    }
    ASSERT_FALSE(StoredProtectedProfile::valueCopies().isEmpty()); // the caller's own
    SensitiveBytes::wipe(environment[QStringLiteral("PLAINV")]);
    EXPECT_EQ(StoredProtectedProfile::valueCopies().toStdString(), "");
}

TEST(ProcessLaunch, WorkingFolderIsTheGivenOneOrOurs)
{
    QTemporaryDir folder;
    ProcessLaunchConfiguration inFolder = program(QStringLiteral("/bin/pwd"), {});
    inFolder.workingDirectory = folder.path();
    EXPECT_EQ(runToEnd(inFolder).text, folder.path() + QLatin1Char('\n'));

    ProcessLaunchConfiguration unchanged = program(QStringLiteral("/bin/pwd"), {});
    unchanged.workingDirectory = QString();
    EXPECT_EQ(runToEnd(unchanged).text, QDir::currentPath() + QLatin1Char('\n'));
}

TEST(ProcessLaunch, TerminalNeitherAddsCarriageReturnsNorEchoesInput)
{
    const auto handle = launchProcess(
        shellCommand(QStringLiteral("printf 'one\\ntwo\\n'; IFS= read -r line; printf 'got:%s\\n' \"$line\"")));
    ChildOutputRecorder recorder(handle);
    ASSERT_TRUE(recorder.waitForOutput(QStringLiteral("two\n")));
    EXPECT_TRUE(handle->writeToTerminal("typed secret\n"));
    ASSERT_TRUE(recorder.waitForExit());
    EXPECT_EQ(recorder.text(), QStringLiteral("one\ntwo\ngot:typed secret\n"));
    EXPECT_FALSE(handle->writeToTerminal("late\n"));
}

TEST(ProcessLaunch, DecodesSplitAndInvalidUtf8)
{
    struct Case {
        const char *name;
        const char *command;
        QString expected;
    };
    const Case cases[] = {
        {"character split across reads", "printf '\\342\\202'; sleep 0.3; printf '\\254 euro\\n'",
         QStringLiteral("€ euro\n")},
        {"four-byte character split twice",
         "printf '\\360'; sleep 0.2; printf '\\237\\230'; sleep 0.2; printf '\\200!'", QStringLiteral("😀!")},
        {"cut-off character before a newline in the next read", "printf 'x\\303'; sleep 0.3; printf '\\nafter\\n'",
         QStringLiteral("x\uFFFD\nafter\n")},
        {"invalid bytes", "printf 'a\\377b\\300\\200c\\n'", QStringLiteral("a\uFFFDb\uFFFD\uFFFDc\n")},
        {"byte-order mark kept", "printf '\\357\\273\\277bom'", QStringLiteral("\uFEFFbom")},
        {"cut-off character at the end", "printf 'end\\342\\202'", QStringLiteral("end\uFFFD\uFFFD")},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const Finished finished = runToEnd(shellCommand(QString::fromUtf8(testCase.command)));
        EXPECT_EQ(finished.text, testCase.expected);
        EXPECT_EQ(finished.status, (ProcessExitStatus {false, 0}));
    }
}

TEST(ProcessLaunch, DeliversAllOutputBeforeTheExitStatus)
{
    for (const bool pseudoTerminal : {true, false}) {
        SCOPED_TRACE(pseudoTerminal ? "terminal" : "pipes");
        const auto handle =
            launchProcess(shellCommand(QStringLiteral("seq 1 20000; echo to-stderr >&2; exit 3"), pseudoTerminal));
        ChildOutputRecorder recorder(handle);
        ASSERT_TRUE(recorder.waitForExit());
        QStringList expected;
        for (int line = 1; line <= 20000; ++line)
            expected.append(QString::number(line));
        EXPECT_TRUE(recorder.text().startsWith(expected.join(QLatin1Char('\n'))));
        EXPECT_TRUE(recorder.text().endsWith(QStringLiteral("to-stderr\n")));
        EXPECT_EQ(recorder.text(), handle->collectedOutput());
        EXPECT_FALSE(recorder.outputAfterExit());
        EXPECT_EQ(recorder.exitStatus(), (ProcessExitStatus {false, 3}));
        EXPECT_EQ(handle->waitUntilExit(), (ProcessExitStatus {false, 3}));
        EXPECT_FALSE(handle->isRunning());
    }
}

TEST(ProcessLaunch, ReportsTheSignalThatEndedTheChild)
{
    const Finished killedItself = runToEnd(shellCommand(QStringLiteral("echo bye; kill -TERM $$")));
    EXPECT_EQ(killedItself.text, QStringLiteral("bye\n"));
    EXPECT_EQ(killedItself.status, (ProcessExitStatus {true, SIGTERM}));
    EXPECT_EQ(killedItself.status.terminationStatus(), SIGTERM);
}

TEST(ProcessLaunch, SignallingTheGroupReachesEveryProcessOfTheChild)
{
    const auto handle = launchProcess(shellCommand(QStringLiteral("sleep 30 & echo \"bg=$!\"; wait")));
    ChildOutputRecorder recorder(handle);
    ASSERT_TRUE(recorder.waitForOutput(QStringLiteral("\n")));
    const pid_t background = recorder.text().section(QLatin1Char('='), 1).trimmed().toInt();
    ASSERT_GT(background, 0);
    EXPECT_TRUE(handle->isRunning());
    EXPECT_TRUE(isAlive(background));

    EXPECT_TRUE(handle->signalProcessGroup(SIGKILL));
    ASSERT_TRUE(recorder.waitForExit());
    EXPECT_EQ(recorder.exitStatus(), (ProcessExitStatus {true, SIGKILL}));
    EXPECT_TRUE(waitUntil([&] { return !isAlive(background); }));
    EXPECT_FALSE(handle->isRunning());
    EXPECT_FALSE(handle->signalProcessGroup(SIGTERM));
    EXPECT_FALSE(handle->signalProcess(SIGTERM));
}

TEST(ProcessLaunch, ChildHoldsOnlyItsTerminalAndLeadsItsSession)
{
    // Neither a blocked nor an ignored signal of ours may reach the child.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    std::signal(SIGUSR2, SIG_IGN);

    const auto handle = launchProcess(program(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}));
    const pid_t pid = handle->processIdentifier();
    ASSERT_TRUE(waitUntil([&] { return statFields(pid).value(0) == QStringLiteral("S"); }));

    const QStringList descriptors = openDescriptors(pid);
    ASSERT_EQ(descriptors.size(), 3) << descriptors.join(QLatin1Char('\n')).toStdString();
    const QString terminal = descriptors.front().section(QStringLiteral(" -> "), 1);
    EXPECT_TRUE(terminal.startsWith(QStringLiteral("/dev/pts/")));
    for (int fd = 0; fd < 3; ++fd)
        EXPECT_EQ(descriptors.value(fd), QStringLiteral("%1 -> %2").arg(fd).arg(terminal));

    const QStringList stat = statFields(pid);
    EXPECT_EQ(stat.value(2).toInt(), pid); // process group
    EXPECT_EQ(stat.value(3).toInt(), pid); // session
    EXPECT_NE(stat.value(4).toInt(), 0);   // controlling terminal
    EXPECT_EQ(stat.value(5).toInt(), pid); // foreground group of that terminal
    EXPECT_EQ(handle->processGroup(), pid);
    EXPECT_EQ(statusValue(pid, QStringLiteral("SigBlk")), QStringLiteral("0000000000000000"));
    EXPECT_EQ(statusValue(pid, QStringLiteral("SigIgn")), QStringLiteral("0000000000000000"));

    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    std::signal(SIGUSR2, SIG_DFL);
    EXPECT_TRUE(handle->signalProcess(SIGTERM));
    EXPECT_EQ(handle->waitUntilExit(), (ProcessExitStatus {true, SIGTERM}));
}

TEST(ProcessLaunch, PipeChildHoldsOnlyStandardDescriptors)
{
    const auto handle = launchProcess(program(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, false));
    const pid_t pid = handle->processIdentifier();
    ASSERT_TRUE(waitUntil([&] { return statFields(pid).value(0) == QStringLiteral("S"); }));
    const QStringList descriptors = openDescriptors(pid);
    ASSERT_EQ(descriptors.size(), 3) << descriptors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(descriptors.value(1).contains(QStringLiteral("pipe:")));
    EXPECT_TRUE(descriptors.value(2).contains(QStringLiteral("pipe:")));
    EXPECT_EQ(statFields(pid).value(3).toInt(), pid); // session
    EXPECT_EQ(statFields(pid).value(4).toInt(), 0);   // no controlling terminal
    EXPECT_TRUE(handle->signalProcessGroup(SIGKILL));
    EXPECT_EQ(handle->waitUntilExit(), (ProcessExitStatus {true, SIGKILL}));
}

TEST(ProcessLaunch, OtherChildrenInheritNoneOfAHandlesDescriptors)
{
    const auto handle = launchProcess(program(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}));
    // QProcess leaves every descriptor marked close-on-exec to the kernel.
    QProcess other;
    other.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(other.waitForStarted());
    const QStringList descriptors = openDescriptors(pid_t(other.processId()));
    for (const QString &descriptor : descriptors) {
        EXPECT_FALSE(descriptor.contains(QStringLiteral("ptmx"))) << descriptor.toStdString();
        EXPECT_FALSE(descriptor.contains(QStringLiteral("pidfd"))) << descriptor.toStdString();
        EXPECT_FALSE(descriptor.contains(QStringLiteral("eventfd"))) << descriptor.toStdString();
        EXPECT_FALSE(descriptor.contains(QStringLiteral("/dev/pts/"))) << descriptor.toStdString();
    }
    other.kill();
    other.waitForFinished();
    handle->signalProcessGroup(SIGKILL);
    handle->waitUntilExit();
}

TEST(ProcessLaunch, LateHandlerGetsCollectedTextOnceThenOnlyNewText)
{
    // The second piece waits for the test, however slowly the machine runs.
    QTemporaryDir folder;
    const QString release = folder.filePath(QStringLiteral("release"));
    const auto handle = launchProcess(shellCommand(
        QStringLiteral("printf first; while [ ! -e '%1' ]; do sleep 0.05; done; printf second").arg(release)));
    ASSERT_TRUE(waitUntil([&] { return handle->collectedOutput() == QStringLiteral("first"); }));
    QStringList pieces;
    handle->setOutputHandler([&](const QString &text, bool) { pieces.append(text); });
    EXPECT_EQ(pieces, QStringList {QStringLiteral("first")});
    QFile(release).open(QIODevice::WriteOnly);
    ASSERT_TRUE(waitUntil([&] { return pieces.join(QString()) == QStringLiteral("firstsecond"); }));
    handle->waitUntilExit();
    QCoreApplication::processEvents();
    EXPECT_EQ(pieces.join(QString()), QStringLiteral("firstsecond"));
}

TEST(ProcessLaunch, KeepsTheLastCharactersOnceOutputGrowsPastTheLimit)
{
    struct Case {
        int length;
        qsizetype kept;
        bool startsWithMarker;
    };
    for (const Case &testCase : {Case {200000, 200000, true}, Case {200001, 150000, false}}) {
        SCOPED_TRACE(testCase.length);
        const Finished finished = runToEnd(
            shellCommand(QStringLiteral("printf b; head -c %1 /dev/zero | tr '\\0' a").arg(testCase.length - 1)));
        EXPECT_EQ(finished.collected.size(), testCase.kept);
        EXPECT_EQ(finished.collected.startsWith(QLatin1Char('b')), testCase.startsWithMarker);
        EXPECT_TRUE(finished.text.endsWith(finished.collected));
    }
}

TEST(ProcessLaunch, HandOversStayFewHoweverFastTheChildWrites)
{
    QElapsedTimer clock;
    clock.start();
    const auto handle =
        launchProcess(shellCommand(QStringLiteral("head -c 30000000 /dev/zero | tr '\\0' a | fold -w 100")));
    ChildOutputRecorder recorder(handle);
    ASSERT_TRUE(recorder.waitForExit(60000));
    const qint64 elapsedMs = clock.elapsed();
    EXPECT_GE(handle->collectedOutput().size(), RunningProcessHandle::outputKeep);
    EXPECT_LE(handle->collectedOutput().size(), RunningProcessHandle::outputCutAbove);
    EXPECT_TRUE(recorder.text().endsWith(handle->collectedOutput()));
    // One hand-over per interval at most, plus the last one with the exit.
    EXPECT_LE(recorder.handOvers(), elapsedMs / RunningProcessHandle::handOverInterval.count() + 2)
        << "hand-overs " << recorder.handOvers() << " in " << elapsedMs << " ms";
}

TEST(ProcessLaunch, ReleasingTheHandleHangsUpTheTerminalAndStillReapsTheChild)
{
    pid_t pid = 0;
    {
        const auto handle = launchProcess(program(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}));
        pid = handle->processIdentifier();
        ChildOutputRecorder recorder(handle);
    }
    // The closed master hangs the terminal up, and the watcher reaps the child,
    // so not even a zombie is left.
    EXPECT_TRUE(waitUntil([&] { return statFields(pid).isEmpty(); }, 10000));
}
