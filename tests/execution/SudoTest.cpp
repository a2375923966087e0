#include "execution/ProcessLauncher.h"
#include "execution/SudoPasswordResponder.h"
#include "execution/SudoWrapper.h"
#include "support/Await.h"
#include "support/ChildOutputRecorder.h"
#include "support/FakeSudo.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const QByteArray ctrlD("\x04");

QByteArray reply(const std::optional<SensitiveBytes> &bytes)
{
    return bytes ? bytes->view().toByteArray() : QByteArrayLiteral("(none)");
}

// sudo -S -p PROMPT -v that logs each line it reads (or <EOF>) and accepts $FAKE_SUDO_PASSWORD within three tries.
const QByteArray fakeSudo = R"(#!/bin/sh
while [ $# -gt 0 ]; do case "$1" in -p) prompt=$2; shift 2 ;; *) shift ;; esac; done
for try in 1 2 3; do
  printf '%s' "$prompt" >&2
  IFS= read -r line || { echo '<EOF>' >> "$HOME/sudo.log"; exit 1; }
  printf '%s\n' "$line" >> "$HOME/sudo.log"
  [ "$line" = "$FAKE_SUDO_PASSWORD" ] && exit 0
done
exit 1
)";

// Programs of the user's own that show the prompt they find in $SPOOF_PROMPT
// and note in ~/spoof.log whatever line they then get within a second.
const QByteArray spoofingCommand =
    R"(printf '%s' "$SPOOF_PROMPT"; if read -t 1 -r got; then printf '%s\n' "$got" >> "$HOME/spoof.log"; fi)";
const QByteArray spoofingStartupFile = "if [ -z \"$SPOOFED\" ]; then export SPOOFED=1; " + spoofingCommand + "; fi\n";
const QByteArray sameUserSudo = "#!/bin/bash\n" + spoofingCommand + "\n";

QStringList linesOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

const QString sudoPassword = QStringLiteral("s3cret pa$$ 'word'");

// Runs `command` through the wrapper with the password given, against the fake sudo that accepts
// `accepted` (or, with none, passes without asking, as within its timeout); no spoofer may get a
// line, nor the output the password.
void expectRun(const char *what, const QString &shell, const QString &command, const QString &accepted,
               const QStringList &linesSudoRead, std::optional<ProcessExitStatus> status = {},
               const QString &shown = {}, const QByteArray &startupFile = {})
{
    SCOPED_TRACE(what);
    QTemporaryDir folder;
    const QString sudo = folder.filePath(QStringLiteral("sudo"));
    ChildProcessProbe::writeExecutable(sudo, accepted.isEmpty() ? QByteArrayLiteral("#!/bin/sh\n") : fakeSudo);
    QDir(folder.path()).mkdir(QStringLiteral("other"));
    ChildProcessProbe::writeExecutable(folder.filePath(QStringLiteral("other/sudo")), sameUserSudo);
    if (!startupFile.isEmpty())
        ChildProcessProbe::writeExecutable(folder.filePath(QStringLiteral(".profile")), startupFile);

    const std::optional<QString> prompt = makeSudoPrompt(command, true);
    ASSERT_TRUE(prompt.has_value());
    const QMap<QString, QString> environment {{QStringLiteral("FAKE_SUDO_PASSWORD"), accepted},
                                              {QStringLiteral("SPOOF_PROMPT"), *prompt},
                                              {QStringLiteral("HOME"), folder.path()},
                                              {QStringLiteral("SHELL"), QStringLiteral("/opt/users/shell")}};
    const auto responder = SudoPasswordResponder::make(sudoPassword.toUtf8(), prompt, fakeSudoCheck(sudo));
    ASSERT_TRUE(responder);
    const auto handle =
        launchProcess(makeSudoLaunchConfiguration(shell, command, *prompt, environment, folder.path(), sudo));

    QString output;
    std::optional<ProcessExitStatus> exit;
    handle->setOutputHandler([&, weakHandle = std::weak_ptr(handle)](const QString &text, bool) {
        output += text;
        if (const auto current = weakHandle.lock())
            responder->respond(text, *current);
    });
    handle->setExitHandler([&](ProcessExitStatus exitStatus) { exit = exitStatus; });
    EXPECT_TRUE(waitUntil([&] { return exit.has_value(); }, 20000)) << output.toStdString();
    EXPECT_EQ(linesOf(folder.filePath(QStringLiteral("spoof.log"))), QStringList());
    EXPECT_EQ(linesOf(folder.filePath(QStringLiteral("sudo.log"))), linesSudoRead);
    EXPECT_FALSE(output.contains(sudoPassword)) << output.toStdString();
    EXPECT_TRUE(!status || exit == status) << output.toStdString();
    EXPECT_TRUE(output.contains(shown)) << output.toStdString();
}

// The stand-in for the one sudo that asks on the child's terminal.
const ProcessIdentity askingSudo {4242, 77};

const QByteArray none = reply(std::nullopt);
const QByteArray pw = QByteArrayLiteral("pw\n");

// A piece of output, what the responder should send for it, and which sudo asks on the terminal by then.
struct Step {
    QStringView chunk;
    QByteArray sent;
    std::optional<ProcessIdentity> asking = askingSudo;
    bool askingStillRuns = true;
};

void expectSteps(SudoPasswordResponder &responder, const std::vector<Step> &steps)
{
    int index = 0;
    for (const Step &step : steps) {
        const auto sent = responder.response(
            step.chunk.toString(), [&] { return step.asking; },
            [&](const ProcessIdentity &) { return step.askingStillRuns; });
        EXPECT_EQ(reply(sent), step.sent) << "step " << index++;
    }
}

} // namespace

TEST(Sudo, PatternFindsTheSudoWordOnly)
{
    for (const char *command : {"sudo make install", "cd x && sudo ls", "(sudo ls)", "/usr/bin/sudo -k", "sudo",
                                "echo a;sudo -v", "true|sudo tee f", "x\tsudo\tls"})
        EXPECT_TRUE(commandCallsSudo(QString::fromUtf8(command))) << command;
    for (const char *command : {"pseudo ls", "sudoedit f", "echo sudo-rs", "SUDO ls", "/bin/sudo ls", "", "mysudo x"})
        EXPECT_FALSE(commandCallsSudo(QString::fromUtf8(command))) << command;
}

TEST(Sudo, PromptIsNewForEveryLaunchAndOnlyWithAPassword)
{
    const QRegularExpression form(
        QStringLiteral("^\\[Velmora sudo [0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\] password: $"));
    const auto first = makeSudoPrompt(QStringLiteral("sudo ls"), true);
    const auto second = makeSudoPrompt(QStringLiteral("sudo ls"), true);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(form.match(*first).hasMatch()) << first->toStdString();
    EXPECT_NE(*first, *second);

    EXPECT_FALSE(makeSudoPrompt(QStringLiteral("ls"), true));
    EXPECT_FALSE(makeSudoPrompt(QStringLiteral("sudo ls"), false));
}

TEST(Sudo, WrapperQuotesEveryWordAndHoldsNoPassword)
{
    EXPECT_EQ(shellQuoted(QStringLiteral("it's")), QStringLiteral("'it'\\''s'"));
    EXPECT_EQ(shellQuoted(QString()), QStringLiteral("''"));
    EXPECT_EQ(makeSudoWrapperCommand(QStringLiteral("/bin/my'sh"), QStringLiteral("sudo echo 'hi'"),
                                     QStringLiteral("[P] password: ")),
              QStringLiteral("/usr/bin/sudo -S -p '[P] password: ' -v && exec '/bin/my'\\''sh' -lc "
                             "'sudo echo '\\''hi'\\'''"));

    const ProcessLaunchConfiguration configuration = makeSudoLaunchConfiguration(
        QStringLiteral("/bin/zsh"), QStringLiteral("sudo ls"), QStringLiteral("[P] password: "),
        {{QStringLiteral("SHELL"), QStringLiteral("/usr/bin/fish")}, {QStringLiteral("A"), QStringLiteral("1")}},
        QStringLiteral("/home/u"));
    EXPECT_EQ(configuration.executableURL, QUrl::fromLocalFile(QStringLiteral("/usr/bin/script")));
    EXPECT_EQ(
        configuration.arguments.join(QLatin1Char('|')),
        QStringLiteral("-q|-f|-e|-E|never|-c|SHELL='/usr/bin/fish' exec '/bin/zsh' -lc '/usr/bin/sudo -S -p "
                       "'\\''[P] password: '\\'' -v && exec '\\''/bin/zsh'\\'' -lc '\\''sudo ls'\\'''|/dev/null"));
    EXPECT_EQ(configuration.environment.value(QStringLiteral("SHELL")), QStringLiteral("/bin/sh"));
    EXPECT_EQ(configuration.environment.value(QStringLiteral("A")), QStringLiteral("1"));
    EXPECT_EQ(configuration.workingDirectory, QStringLiteral("/home/u"));
    EXPECT_TRUE(!configuration.useShell && !configuration.rawCommand && configuration.usePseudoTerminal);
}

TEST(Sudo, ResponderAnswersOnlyTheSudoThatAsksOncePerStageAndIgnoresOtherOutput)
{
    const QString prompt = QStringLiteral("[Velmora sudo X] password: ");
    EXPECT_FALSE(SudoPasswordResponder::make(QByteArrayView(), prompt));
    EXPECT_FALSE(SudoPasswordResponder::make("", prompt));
    EXPECT_FALSE(SudoPasswordResponder::make("pw", QString()));
    EXPECT_FALSE(SudoPasswordResponder::make("pw", std::nullopt));

    const QString partly = prompt.left(10) + QString(600, QLatin1Char('x'));
    const QString farBack = prompt + QString(300, QLatin1Char('y'));
    const struct {
        const char *what;
        std::vector<Step> steps;
    } cases[] = {
        {"noise, the prompt split in the middle around an empty chunk, a retry",
         {{u"starting\n", none},
          {u"noise [Velmora su", none},
          {u"", none},
          {u"do X] password: ", pw},
          {u"Sorry, try again.\n", none},
          {prompt, ctrlD},
          {prompt, none}}},
        {"a prompt only partly in the window, then one scrolled far back in one big chunk",
         {{partly, none}, {farBack, pw}}},
        {"nobody asks yet, then another sudo shows the same prompt later",
         {{prompt, none, std::nullopt}, {prompt, pw}, {prompt, none, ProcessIdentity {4243, 78}}, {prompt, ctrlD}}},
        {"the answered sudo has ended: not even Ctrl-D",
         {{prompt, pw}, {u"sudo: done\n", none, askingSudo, false}, {prompt, none}}},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        const auto responder = SudoPasswordResponder::make("pw", prompt);
        ASSERT_TRUE(responder);
        expectSteps(*responder, test.steps);
    }
}

TEST(Sudo, ClearedPasswordIsNeverSent)
{
    const QString prompt = QStringLiteral("[Velmora sudo Y] password: ");
    const auto responder = SudoPasswordResponder::make("pw", prompt);
    responder->clearPassword();
    expectSteps(*responder, {{prompt, ctrlD}, {prompt, none}});

    const auto timed = SudoPasswordResponder::make("pw", prompt);
    timed->scheduleClearPassword(std::chrono::milliseconds(20));
    QTest::qWait(100);
    QCoreApplication::processEvents(); // the clearing is due by now, even if the test stalled since its last look
    expectSteps(*timed, {{prompt, ctrlD}});

    // A responder gone before its expiry is simply not cleared.
    auto gone = SudoPasswordResponder::make("pw", prompt);
    gone->scheduleClearPassword(std::chrono::milliseconds(1));
    gone.reset();
    QTest::qWait(30);
}

TEST(Sudo, OnlyTheRealSudoGetsThePasswordOnceAndNeverTheOutput)
{
    const QString sh = QStringLiteral("/bin/sh"), bash = QStringLiteral("/bin/bash");
    // script needs /bin/sh as its SHELL; the command still sees the user's own.
    expectRun("the right password", sh, QStringLiteral("sudo true; printf '%s\\n' \"it's done, shell=$SHELL\"; exit 7"),
              sudoPassword, {sudoPassword}, ProcessExitStatus {false, 7},
              QStringLiteral("it's done, shell=/opt/users/shell\n"));
    // Not 0 from the command after it: the wrapper stopped at sudo.
    expectRun("a wrong password gets one Ctrl-D, no second try", sh, QStringLiteral("sudo true; echo never-runs"),
              QStringLiteral("right-one"), {sudoPassword, QStringLiteral("<EOF>")}, ProcessExitStatus {false, 1});
    expectRun("a login start-up file that shows the prompt before sudo runs", bash,
              QStringLiteral("sudo true; echo ran"), sudoPassword, {sudoPassword}, {}, {}, spoofingStartupFile);
    expectRun("the command after a sudo that did not ask", bash,
              QStringLiteral("sudo true; ") + QString::fromUtf8(spoofingCommand), {}, {});
    expectRun("a program of the user's own named sudo", bash,
              QStringLiteral("sudo true; \"$HOME/other/sudo\" -p \"$SPOOF_PROMPT\""), {}, {});
}

TEST(Sudo, OnlyAProcessRunningAsAnotherUserPassesForTheSetUidSudo)
{
    const ProcFileSystem fileSystem = ProcFileSystem::system();
    EXPECT_FALSE(ForegroundSudo::runsAsAnotherUser(qint32(::getpid()), fileSystem));
    EXPECT_FALSE(ForegroundSudo::runsAsAnotherUser(0, fileSystem));
    if (::getuid() != 0) {
        EXPECT_TRUE(ForegroundSudo::runsAsAnotherUser(1, fileSystem)); // init runs as root
        return;
    }
    QProcess other;
    other.start(QStringLiteral("/usr/bin/setpriv"),
                QStringLiteral("--reuid=65534 --regid=65534 --clear-groups sleep 10").split(QLatin1Char(' ')));
    ASSERT_TRUE(other.waitForStarted());
    EXPECT_TRUE(
        waitUntil([&] { return ForegroundSudo::runsAsAnotherUser(qint32(other.processId()), fileSystem); }, 5000));
    other.kill();
    other.waitForFinished();
}
