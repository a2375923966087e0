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

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const QByteArray ctrlD("\x04");

// The reply as plain bytes, or "(none)".
QByteArray reply(const std::optional<SensitiveBytes> &bytes)
{
    return bytes ? bytes->view().toByteArray() : QByteArrayLiteral("(none)");
}

// A stand-in for sudo -S -p PROMPT -v: shows the prompt, reads a line from its
// terminal and notes each line it read (or <EOF>) in $FAKE_SUDO_LOG; accepts
// the line that equals $FAKE_SUDO_PASSWORD, if any, and asks up to three times.
// With $FAKE_SUDO_ASKS=no it passes without asking, as sudo does within its
// timeout or under a rule that needs no password.
const QByteArray fakeSudo = R"(#!/bin/sh
[ "$FAKE_SUDO_ASKS" = no ] && exit 0
prompt=
while [ $# -gt 0 ]; do
  case "$1" in -p) prompt=$2; shift 2 ;; *) shift ;; esac
done
tries=0
while [ $tries -lt 3 ]; do
  printf '%s' "$prompt" >&2
  if ! IFS= read -r line; then
    echo '<EOF>' >> "$FAKE_SUDO_LOG"
    echo 'fake-sudo: no password' >&2
    exit 1
  fi
  printf '%s\n' "$line" >> "$FAKE_SUDO_LOG"
  if [ -n "$FAKE_SUDO_PASSWORD" ] && [ "$line" = "$FAKE_SUDO_PASSWORD" ]; then
    echo 'fake-sudo: accepted' >&2
    exit 0
  fi
  echo 'fake-sudo: wrong password' >&2
  tries=$((tries + 1))
done
exit 1
)";

// Programs of the user's own that show the prompt they find in $SPOOF_PROMPT
// and note in $SPOOF_LOG whatever line they then get within a second.
const QByteArray spoofingCommand =
    R"(printf '%s' "$SPOOF_PROMPT"; if read -t 1 -r got; then printf '%s\n' "$got" >> "$SPOOF_LOG"; fi)";
const QByteArray spoofingStartupFile = "if [ -z \"$SPOOFED\" ]; then export SPOOFED=1; " + spoofingCommand + "; fi\n";
const QByteArray sameUserSudo = "#!/bin/bash\n" + spoofingCommand + "\n";

struct SudoRun {
    QString output;
    QStringList linesSudoRead;
    QStringList linesSpooferRead;
    std::optional<ProcessExitStatus> status;
};

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

struct SudoScene {
    QString shell = QStringLiteral("/bin/sh");
    QByteArray startupFile;
    bool sudoAsks = true;
};

SudoRun runWithFakeSudo(const QString &command, const QString &password, const QString &acceptedPassword,
                        const SudoScene &scene = {})
{
    QTemporaryDir folder;
    const QString sudo = folder.filePath(QStringLiteral("sudo"));
    const QString log = folder.filePath(QStringLiteral("sudo.log"));
    const QString spoofLog = folder.filePath(QStringLiteral("spoof.log"));
    ChildProcessProbe::writeExecutable(sudo, fakeSudo);
    QDir(folder.path()).mkdir(QStringLiteral("other"));
    ChildProcessProbe::writeExecutable(folder.filePath(QStringLiteral("other/sudo")), sameUserSudo);
    if (!scene.startupFile.isEmpty()) {
        QFile profile(folder.filePath(QStringLiteral(".profile")));
        EXPECT_TRUE(profile.open(QIODevice::WriteOnly) && profile.write(scene.startupFile) > 0);
    }

    const std::optional<QString> prompt = makeSudoPrompt(command, !password.isEmpty());
    EXPECT_TRUE(prompt.has_value());
    const QMap<QString, QString> environment {
        {QStringLiteral("FAKE_SUDO_LOG"), log},
        {QStringLiteral("FAKE_SUDO_PASSWORD"), acceptedPassword},
        {QStringLiteral("FAKE_SUDO_ASKS"), scene.sudoAsks ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("SPOOF_PROMPT"), prompt.value_or(QString())},
        {QStringLiteral("SPOOF_LOG"), spoofLog},
        {QStringLiteral("HOME"), folder.path()},
        {QStringLiteral("SHELL"), QStringLiteral("/opt/users/shell")}};
    const ProcessLaunchConfiguration configuration =
        makeSudoLaunchConfiguration(scene.shell, command, prompt.value_or(QString()), environment, folder.path(), sudo);
    const auto handle = launchProcess(configuration);
    const auto responder = SudoPasswordResponder::make(password.toUtf8(), prompt, fakeSudoCheck(sudo));
    EXPECT_TRUE(responder);

    SudoRun run;
    std::weak_ptr<RunningProcessHandle> weakHandle = handle;
    handle->setOutputHandler([&, weakHandle](const QString &text, bool) {
        run.output += text;
        if (const auto current = weakHandle.lock())
            responder->respond(text, *current);
    });
    handle->setExitHandler([&](ProcessExitStatus status) { run.status = status; });
    EXPECT_TRUE(waitUntil([&] { return run.status.has_value(); }, 20000)) << run.output.toStdString();

    run.linesSudoRead = linesOf(log);
    run.linesSpooferRead = linesOf(spoofLog);
    return run;
}

// The stand-in for the one sudo that asks on the child's terminal.
const ProcessIdentity askingSudo {4242, 77};

const QByteArray none = reply(std::nullopt);
const QByteArray pw = QByteArrayLiteral("pw\n");

// One piece of output, what the responder should send for it, and which sudo
// asks on the terminal by then.
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
    const char *calls[] = {"sudo make install", "cd x && sudo ls", "(sudo ls)",  "/usr/bin/sudo -k", "sudo",
                           "echo a;sudo -v",    "true|sudo tee f", "x\tsudo\tls"};
    for (const char *command : calls)
        EXPECT_TRUE(commandCallsSudo(QString::fromUtf8(command))) << command;
    const char *others[] = {"pseudo ls", "sudoedit f", "echo sudo-rs", "SUDO ls", "/bin/sudo ls", "", "mysudo x"};
    for (const char *command : others)
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
    EXPECT_EQ(configuration.arguments,
              (QStringList {
                  QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("-e"), QStringLiteral("-E"),
                  QStringLiteral("never"), QStringLiteral("-c"),
                  QStringLiteral(
                      "SHELL='/usr/bin/fish' exec '/bin/zsh' -lc '/usr/bin/sudo -S -p '\\''[P] password: '\\'' -v && "
                      "exec '\\''/bin/zsh'\\'' -lc '\\''sudo ls'\\'''"),
                  QStringLiteral("/dev/null")}));
    EXPECT_EQ(configuration.environment.value(QStringLiteral("SHELL")), QStringLiteral("/bin/sh"));
    EXPECT_EQ(configuration.environment.value(QStringLiteral("A")), QStringLiteral("1"));
    EXPECT_EQ(configuration.workingDirectory, QStringLiteral("/home/u"));
    EXPECT_FALSE(configuration.useShell);
    EXPECT_FALSE(configuration.rawCommand);
    EXPECT_TRUE(configuration.usePseudoTerminal);
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
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() > 100; }, 1000);
    QCoreApplication::processEvents(); // the clearing is due by now, even if the test stalled since its last look
    expectSteps(*timed, {{prompt, ctrlD}});

    // A responder gone before its expiry is simply not cleared.
    auto gone = SudoPasswordResponder::make("pw", prompt);
    gone->scheduleClearPassword(std::chrono::milliseconds(1));
    gone.reset();
    waitUntil([] { return false; }, 30);
}

TEST(Sudo, PasswordReachesSudoOnceAndNeverTheOutput)
{
    const QString password = QStringLiteral("s3cret pa$$ 'word'");
    const SudoRun run = runWithFakeSudo(
        QStringLiteral("sudo true; printf '%s\\n' \"it's done\" \"shell=$SHELL\"; exit 7"), password, password);
    EXPECT_EQ(run.linesSudoRead, QStringList {password});
    EXPECT_FALSE(run.output.contains(QStringLiteral("s3cret"))) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("it's done\n"))) << run.output.toStdString();
    // script needs /bin/sh as its SHELL; the command still sees the user's own.
    EXPECT_TRUE(run.output.contains(QStringLiteral("shell=/opt/users/shell\n"))) << run.output.toStdString();
    EXPECT_EQ(run.status, (ProcessExitStatus {false, 7}));
}

TEST(Sudo, WrongPasswordGetsOneCtrlDAndNoSecondTry)
{
    const QString password = QStringLiteral("wrong-one");
    const SudoRun run =
        runWithFakeSudo(QStringLiteral("sudo true; echo never-runs"), password, QStringLiteral("right-one"));
    EXPECT_EQ(run.linesSudoRead, (QStringList {password, QStringLiteral("<EOF>")}));
    EXPECT_FALSE(run.output.contains(password)) << run.output.toStdString();
    // Not 0 from the command after it: the wrapper stopped at sudo.
    EXPECT_EQ(run.status, (ProcessExitStatus {false, 1}));
}

TEST(Sudo, SpoofedPromptsGetNothingAndTheRealSudoGetsThePasswordOnce)
{
    const QString password = QStringLiteral("pass-for-sudo-only");
    struct Case {
        const char *what;
        QString command;
        SudoScene scene;
        QStringList linesSudoRead;
    };
    const Case cases[] = {
        {"a login start-up file that shows the prompt before sudo runs",
         QStringLiteral("sudo true; echo ran"),
         {QStringLiteral("/bin/bash"), spoofingStartupFile, true},
         {password}},
        {"the command after a sudo that did not ask",
         QStringLiteral("sudo true; ") + QString::fromUtf8(spoofingCommand),
         {QStringLiteral("/bin/bash"), {}, false},
         {}},
        {"a program of the user's own named sudo",
         QStringLiteral("sudo true; \"$HOME/other/sudo\" -p \"$SPOOF_PROMPT\""),
         {QStringLiteral("/bin/bash"), {}, false},
         {}},
    };
    for (const Case &test : cases) {
        const SudoRun run = runWithFakeSudo(test.command, password, password, test.scene);
        EXPECT_EQ(run.linesSpooferRead, QStringList()) << test.what;
        EXPECT_EQ(run.linesSudoRead, test.linesSudoRead) << test.what;
        EXPECT_FALSE(run.output.contains(password)) << test.what;
    }
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
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                 QStringLiteral("sleep"), QStringLiteral("10")});
    ASSERT_TRUE(other.waitForStarted());
    EXPECT_TRUE(
        waitUntil([&] { return ForegroundSudo::runsAsAnotherUser(qint32(other.processId()), fileSystem); }, 5000));
    other.kill();
    other.waitForFinished();
}
