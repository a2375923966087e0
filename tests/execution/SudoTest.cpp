#include "execution/ProcessLauncher.h"
#include "execution/ServiceLaunchPreparation.h"
#include "execution/SudoHelper.h"
#include "execution/SudoPasswordResponder.h"
#include "execution/SudoWrapper.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/ChildOutputRecorder.h"
#include "support/FakeProcTree.h"
#include "support/FakeSudo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const QByteArray ctrlD("\x04");

QByteArray reply(const std::optional<SensitiveBytes> &bytes)
{
    return bytes ? bytes->view().toByteArray() : QByteArrayLiteral("(none)");
}

// sudo -S -p PROMPT -v noting script's and the wrapper's environments, logging what it reads, accepting ./accepted.
const QByteArray fakeSudo = R"(#!/bin/sh
folder=${0%/sudo}
[ "$HOME" = "$folder/other" ] && folder=$HOME
cat /proc/$PPID/environ > "$folder/wrapper.env"
read -r _ _ _ script _ < /proc/$PPID/stat
cat /proc/$script/environ > "$folder/script.env"
accepted=$(cat "$folder/accepted" 2>/dev/null) || exit 0
while [ $# -gt 0 ]; do case "$1" in -p) prompt=$2; shift 2 ;; *) shift ;; esac; done
for try in 1 2 3; do
  printf '%s' "$prompt" >&2
  IFS= read -r line || { echo '<EOF>' >> "$folder/sudo.log"; exit 1; }
  printf '%s\n' "$line" >> "$folder/sudo.log"
  [ "$line" = "$accepted" ] && exit 0
done
exit 1
)";

// What a program of the user's own does to get the password: it starts a sudo that carries the prompt
// ($DECOY_SUDO, the set-uid one or a link to it, reading from a pipe), shows the prompt itself in
// $DECOY_WRITES pieces, and notes in ~/spoof.log whatever line it then gets from the terminal within two seconds.
const QByteArray decoy = R"(
prompt=$(ps -ww -o args= -p $PPID | grep -o '\[Velmora sudo [-0-9A-F]*\] password: ')
( sleep 3 | HOME="$HOME/other" "$DECOY_SUDO" -S -p "$prompt" -v ) &
rest=$prompt; n=$DECOY_WRITES
while [ "$n" -gt 1 ]; do piece=$(printf '%s' "$rest" | cut -c1-8); rest=${rest#"$piece"}; printf '%s' "$piece"; sleep 0.2; n=$((n-1)); done
printf '%s' "$rest"
got=$(timeout --foreground 2 sh -c 'IFS= read -r line && printf "%s" "$line"')
if [ -n "$got" ]; then printf '%s\n' "$got" >> "$HOME/spoof.log"; fi
)";

QStringList linesOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QMap<QString, QString> environmentIn(const QString &path)
{
    QMap<QString, QString> environment;
    for (const QByteArray &entry : records_test::readFile(path).split('\0'))
        if (const qsizetype equals = entry.indexOf('='); equals > 0)
            environment.insert(QString::fromUtf8(entry.left(equals)), QString::fromUtf8(entry.mid(equals + 1)));
    return environment;
}

// All that script and the wrapper shell may have until sudo has validated.
QMap<QString, QString> environmentUntilValidated()
{
    const passwd *account = ::getpwuid(::getuid());
    const QString name = QFile::decodeName(account->pw_name);
    QMap<QString, QString> environment {{QStringLiteral("SHELL"), QStringLiteral("/bin/sh")},
                                        {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin")},
                                        {QStringLiteral("HOME"), QFile::decodeName(account->pw_dir)},
                                        {QStringLiteral("USER"), name},
                                        {QStringLiteral("LOGNAME"), name}};
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    for (const QString &key : own.keys())
        if (key == QLatin1String("TERM") || key == QLatin1String("LANG") || key.startsWith(QLatin1String("LC_")))
            environment.insert(key, own.value(key));
    return environment;
}

const QString sudoPassword = QStringLiteral("s3cret pa$$ 'word'");

struct Run {
    const char *what;
    QString shell;
    QString command;
    // What the wrapper's sudo accepts; with none it passes without asking, as under a NOPASSWD rule.
    QString accepted;
    QStringList linesSudoRead;
    std::optional<ProcessExitStatus> status = {};
    QString shown = {};
    QByteArray startupFile = {};
    int decoyWrites = 1;
    bool decoyThroughLink = false;
    QMap<QString, QString> userEnvironment = {{QStringLiteral("SHELL"), QStringLiteral("/opt/users/shell")}};
};

// Runs the command as the service manager launches it, with the fake sudo and a read logger in LD_PRELOAD: no
// decoy gets a line, nor the output or the logger the password, nor script or wrapper anything of the profile.
void expectRun(const Run &run, QMap<QString, QString> *command = nullptr)
{
    SCOPED_TRACE(run.what);
    QTemporaryDir folder;
    const QString sudo = folder.filePath(QStringLiteral("sudo"));
    ChildProcessProbe::writeExecutable(sudo, fakeSudo);
    if (!run.accepted.isEmpty())
        ChildProcessProbe::writeExecutable(folder.filePath(QStringLiteral("accepted")), run.accepted.toUtf8());
    QDir(folder.path()).mkdir(QStringLiteral("other"));
    QFile::link(sudo, folder.filePath(QStringLiteral("other/sudo")));
    if (!run.startupFile.isEmpty())
        ChildProcessProbe::writeExecutable(folder.filePath(QStringLiteral(".profile")), run.startupFile);

    ManagedService service;
    service.command = run.command;
    QMap<QString, QString> environment = run.userEnvironment;
    environment.insert(
        {{QStringLiteral("DECOY_SUDO"), run.decoyThroughLink ? folder.filePath(QStringLiteral("other/sudo")) : sudo},
         {QStringLiteral("DECOY_WRITES"), QString::number(run.decoyWrites)},
         {QStringLiteral("HOME"), folder.path()},
         {QStringLiteral("LD_PRELOAD"), QStringLiteral(VELMORA_READ_LOGGER)},
         {QStringLiteral("VELMORA_READ_LOG"), folder.filePath(QStringLiteral("read.log"))}});
    const SensitiveBytes password(sudoPassword.toUtf8());
    const auto launch = ServiceLaunchPreparation::inApplicationLaunch(service, environment, run.shell, &password, sudo,
                                                                      fakeSudoCheck(sudo));
    ASSERT_TRUE(launch.responder);
    const auto handle = launchProcess(launch.configuration);

    QString output;
    std::optional<ProcessExitStatus> exit;
    handle->setOutputHandler([&, weakHandle = std::weak_ptr(handle)](const QString &text, bool) {
        output += text;
        if (const auto current = weakHandle.lock())
            launch.responder->respond(text, *current);
    });
    handle->setExitHandler([&](ProcessExitStatus exitStatus) { exit = exitStatus; });
    EXPECT_TRUE(waitUntil([&] { return exit.has_value(); }, 20000)) << output.toStdString();
    EXPECT_EQ(linesOf(folder.filePath(QStringLiteral("spoof.log"))), QStringList());
    EXPECT_EQ(linesOf(folder.filePath(QStringLiteral("sudo.log"))), run.linesSudoRead);
    EXPECT_FALSE(output.contains(sudoPassword)) << output.toStdString();
    EXPECT_TRUE(!run.status || exit == run.status) << output.toStdString();
    EXPECT_TRUE(output.contains(run.shown)) << output.toStdString();

    EXPECT_EQ(environmentIn(folder.filePath(QStringLiteral("script.env"))), environmentUntilValidated());
    QMap<QString, QString> wrapper = environmentIn(folder.filePath(QStringLiteral("wrapper.env")));
    wrapper.remove(QStringLiteral("PWD")); // the shell's own
    EXPECT_EQ(wrapper, environmentUntilValidated());
    // Where the command notes its environment, its login shell has read its start-up files through the logger.
    const QByteArray read = records_test::readFile(folder.filePath(QStringLiteral("read.log")));
    EXPECT_TRUE(!read.contains(sudoPassword.toUtf8()) && (!command || !read.isEmpty()));
    if (command)
        *command = environmentIn(folder.filePath(QStringLiteral("command.env")));
}

// The stand-in for the wrapper's own sudo.
const ProcessIdentity askingSudo {4242, 77};

const QByteArray none = reply(std::nullopt);
const QByteArray pw = QByteArrayLiteral("pw\n");

// A piece of output, what the responder should send for it, and where the wrapper stands by then.
struct Step {
    QStringView chunk;
    QByteArray sent;
    std::optional<ProcessIdentity> asking = askingSudo;
    bool wrapperRunning = true;
    bool sudoHidden = false;
};

void expectSteps(SudoPasswordResponder &responder, const std::vector<Step> &steps)
{
    int index = 0;
    for (const Step &step : steps) {
        const auto sent = responder.response(step.chunk.toString(), [&] {
            return WrapperSudo::Lookup {step.wrapperRunning, step.asking, step.sudoHidden};
        });
        // Only a hidden sudo's Ctrl-D comes with a word to the user.
        EXPECT_EQ(sent.note.contains(QStringLiteral("hides sudo's process")), step.sudoHidden && step.sent == ctrlD);
        EXPECT_EQ(reply(sent.input), step.sent) << "step " << index++;
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
    const QString helper = QStringLiteral("/opt/v's/velmora-exec-environment");
    const QString execEnvironment = shellQuoted(helper);
    EXPECT_EQ(makeSudoWrapperCommand(QStringLiteral("/bin/my'sh"), QStringLiteral("sudo echo 'hi'"),
                                     QStringLiteral("[P] password: "), helper),
              QStringLiteral("/usr/bin/sudo -S -p '[P] password: ' -v 3<&- && exec ") + execEnvironment
                  + QStringLiteral(" '/bin/my'\\''sh' -lc 'sudo echo '\\''hi'\\'''"));

    const SudoLaunch launch = makeSudoLaunchConfiguration(QStringLiteral("/bin/zsh"), QStringLiteral("sudo ls"),
                                                          QStringLiteral("[P] password: "),
                                                          {{QStringLiteral("SHELL"), QStringLiteral("/usr/bin/fish")},
                                                           {QStringLiteral("BASH_ENV"), QStringLiteral("/b")},
                                                           {QStringLiteral("A"), QStringLiteral("1")}},
                                                          QStringLiteral("/home/u"), helper);
    const ProcessLaunchConfiguration &configuration = launch.configuration;
    const QString wrapper = QStringLiteral("/usr/bin/sudo -S -p '[P] password: ' -v 3<&- && exec ") + execEnvironment
                            + QStringLiteral(" '/bin/zsh' -lc 'sudo ls'");
    EXPECT_EQ(launch.wrapperCommandLine, QStringLiteral("/bin/sh -c ") + wrapper);
    EXPECT_EQ(configuration.executableURL, QUrl::fromLocalFile(QStringLiteral("/usr/bin/script")));
    EXPECT_EQ(configuration.arguments.join(QLatin1Char('|')), QStringLiteral("-q|-f|-e|-E|never|-c|exec /bin/sh -c ")
                                                                  + shellQuoted(wrapper)
                                                                  + QStringLiteral("|/dev/null"));
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
        {"the wrapper made way for the login shell after its sudo was answered: not even Ctrl-D",
         {{prompt, pw}, {u"motd\n", none, std::nullopt, false}, {prompt, none}}},
        {"the system hides the wrapper's sudo: Ctrl-D with a word to the user, then nothing",
         {{u"starting\n", none, std::nullopt, true, true},
          {prompt, ctrlD, std::nullopt, true, true},
          {prompt, none, askingSudo}}},
        {"the wrapper's sudo never asked (no password needed): nothing for whatever asks later",
         {{prompt, none, askingSudo, false}, {prompt, none}}},
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

TEST(Sudo, OnlyTheWrappersOwnSudoGetsThePasswordOnceAndNeverTheOutput)
{
    const QString sh = QStringLiteral("/bin/sh"), bash = QStringLiteral("/bin/bash");
    // Not the system's sudo for the command's own: it would ask an ordinary user for a password of its own.
    const QString sudoTrue = QStringLiteral("sudo() { :; }; sudo true; ");
    const QString inFile = sudoTrue + QStringLiteral("echo ran");
    // The command sees the user's own SHELL and ENV again, and every other variable of the profile.
    QMap<QString, QString> seen;
    expectRun({"the right password",
               sh,
               sudoTrue
                   + QStringLiteral("cat /proc/$$/environ > ~/command.env; printf '%s\\n' \"it's done, "
                                    "shell=$SHELL env=$ENV\"; exit 7"),
               sudoPassword,
               {sudoPassword},
               ProcessExitStatus {false, 7},
               QStringLiteral("it's done, shell=/opt/users/shell env=/opt/users/env\n"),
               {},
               1,
               false,
               {{QStringLiteral("SHELL"), QStringLiteral("/opt/users/shell")},
                {QStringLiteral("ENV"), QStringLiteral("/opt/users/env")},
                {QStringLiteral("QUOTED"), QStringLiteral("it's \"$HOME\"\n`x`")}}},
              &seen);
    EXPECT_EQ(QStringList({seen.value(QStringLiteral("QUOTED")), seen.value(QStringLiteral("LD_PRELOAD"))}),
              QStringList({QStringLiteral("it's \"$HOME\"\n`x`"), QStringLiteral(VELMORA_READ_LOGGER)}));
    // Not 0 from the command after it: the wrapper stopped at sudo.
    expectRun({"a wrong password gets one Ctrl-D, no second try",
               sh,
               sudoTrue + QStringLiteral("echo never-runs"),
               QStringLiteral("right-one"),
               {sudoPassword, QStringLiteral("<EOF>")},
               ProcessExitStatus {false, 1}});
    const auto decoyInStartUpFile = [&](const char *what, const QString &shell, int writes, bool throughLink) {
        expectRun({what, shell, inFile, sudoPassword, {sudoPassword}, {}, {}, decoy, writes, throughLink});
    };
    decoyInStartUpFile("a start-up file decoy", bash, 1, false);
    decoyInStartUpFile("a start-up file decoy that shows the prompt over three writes", sh, 3, false);
    decoyInStartUpFile("a decoy whose set-uid program is behind a symlink named sudo", bash, 1, true);
    expectRun(
        {"the service's own decoy after a sudo that did not ask", bash, sudoTrue + QString::fromUtf8(decoy), {}, {}});
}

// A bash wrapper (where /bin/sh is bash) keeps its own value of a name it holds read-only or manages, and no shell can
// assign some names: the command's shell starts with a plain launch's environment all the same, byte for byte.
TEST(Sudo, AWrapperOfEitherShellStartsTheCommandWithThePlainLaunchsEnvironment)
{
    QTemporaryDir folder;
    const QString given = folder.filePath(QStringLiteral("fd3")),
                  noted = folder.filePath(QStringLiteral("command.env"));
    QMap<QString, QString> profile {{QStringLiteral("SHELLOPTS"), QStringLiteral("xtrace")},
                                    {QStringLiteral("OPTIND"), QStringLiteral("7")}}; // any other OPTIND ends dash
    for (const QString &name : QStringLiteral("BASHOPTS PPID UID EUID LINENO _ IFS PS4 ENV BASH_ENV SHLVL PWD OLDPWD "
                                              "OPTARG GROUPS BASHPID RANDOM SECONDS FUNCNAME HISTFILE BASH_ARGV0 "
                                              "BASH_VERSION POSIXLY_CORRECT CDPATH MAIL TMOUT HOSTNAME LC_ALL TERM "
                                              "SHELL USER LOGNAME EPOCHSECONDS A;touch;B dotted.name with-dash 1digit")
                                   .split(QLatin1Char(' ')))
        profile.insert(name, QStringLiteral("it's \"$HOME\" `x`; ") + name);
    const QString shell = QStringLiteral("/bin/sh"), sudo = QStringLiteral("/bin/true"),
                  command = QStringLiteral("/bin/cat /proc/$$/environ > ") + shellQuoted(noted),
                  helper = SudoHelper::require();
    ChildProcessProbe::writeExecutable(
        given,
        *makeSudoLaunchConfiguration(shell, command, {}, profile, {}, helper, sudo).configuration.descriptor3Content);
    ProcessLaunchConfiguration plain;
    plain.environment = profile;
    plain.usePseudoTerminal = true;
    const QByteArray expected = launchEnvironment(plain).join('\n') + '\n';
    const QString wrapper =
        QStringLiteral("exec 3<\"$0\" && ") + makeSudoWrapperCommand(shell, command, {}, helper, sudo);
    for (const QString &wrapperShell : {QStringLiteral("/bin/dash"), QStringLiteral("/bin/bash")}) {
        QFile::remove(noted);
        QProcess::execute(wrapperShell, {QStringLiteral("-c"), wrapper, given});
        EXPECT_EQ(records_test::readFile(noted).replace('\0', '\n').toStdString(), expected.toStdString())
            << wrapperShell.toStdString();
    }
}

TEST(Sudo, OnlyARootProcessStartedAsSudoPassesForTheSetUidSudo)
{
    const ProcFileSystem fileSystem = ProcFileSystem::system();
    EXPECT_FALSE(WrapperSudo::isSystemSudo(0, fileSystem));
    EXPECT_FALSE(WrapperSudo::isSystemSudo(1, fileSystem)); // root, but not sudo
    EXPECT_FALSE(WrapperSudo::isSystemSudo(qint32(::getpid()), fileSystem));
}

// Under hidepid a root sudo is a child of the wrapper that cannot be read; an ended one reads as a zombie.
TEST(Sudo, LookupTellsAHiddenSudoFromOneThatEnded)
{
    FakeProcTree tree;
    tree.writeProcess(10, "script", 0, 1, 1);
    tree.write(QStringLiteral("proc/10/task/10/children"), "11");
    tree.writeProcess(11, "sh", 0, 2, 1);
    tree.write(QStringLiteral("proc/11/cmdline"), QByteArray("sh\0w", 4));
    tree.write(QStringLiteral("proc/11/task/11/children"), "12");
    const auto find = [&] {
        return WrapperSudo::find(10, QStringLiteral("sh w"), fakeSudoCheck({}), tree.fileSystem());
    };
    EXPECT_TRUE(find().wrapperRunning && find().sudoHidden);
    tree.write(QStringLiteral("proc/12/stat"), FakeProcTree::statLine(12, "sudo", 0, 0, 3, 1).replace(" S ", " Z "));
    EXPECT_TRUE(find().wrapperRunning && !find().sudoHidden && !find().sudo);
}

// The first helper found, beside the binary before the build's, is refused when missing, not runnable, or changeable
// by another user through itself or its folder (a link's target counts): it runs once sudo has the password.
TEST(Sudo, TheFirstHelperFoundRunsOnlyWhenNoOtherUserCanChangeIt)
{
    QTemporaryDir temporary;
    const QDir base(QFileInfo(temporary.path()).canonicalFilePath()); // as the lookup names its paths
    const QString beside = base.filePath(QStringLiteral("bin/") + SudoHelper::fileName),
                  built = base.filePath(QStringLiteral("build/") + SudoHelper::fileName),
                  open = base.filePath(QStringLiteral("open/") + SudoHelper::fileName);
    const auto mode = [](const QString &path, mode_t bits) { ::chmod(QFile::encodeName(path).constData(), bits); };
    const auto owner = [](const QString &path, uid_t user, gid_t group) {
        EXPECT_EQ(::chown(QFile::encodeName(path).constData(), user, group), 0);
    };
    const auto refused = [](const QString &path, const char *why) {
        return QStringLiteral("Velmora's sudo helper “%1” %2").arg(path, QLatin1String(why));
    };
    const QString changeable = refused(beside, "can be changed by another user.");
    const struct {
        const char *what;
        std::function<void()> stage;
        QString expected;        // the path found, or the problem
        bool asRootOnly = false; // only root can give the helper another owner
    } cases[] = {
        {"beside the binary first", [] {}, beside},
        {"the build's when none is beside it", [&] { QFile::remove(beside); }, built},
        {"none at all", [&] { QFile::remove(beside), QFile::remove(built); },
         QStringLiteral("Velmora's sudo helper is missing (looked for “%1”, “%2”); it must sit beside the velmora "
                        "binary.")
             .arg(beside, built)},
        {"not executable, and the build's is not tried", [&] { mode(beside, 0644); },
         refused(beside, "is not a program you may run.")},
        {"writable by others", [&] { mode(beside, 0757); }, changeable},
        {"in a folder others may write", [&] { mode(base.filePath(QStringLiteral("bin")), 01777); },
         refused(beside, "lies in a folder another user can write.")},
        {"a link to one in such a folder", [&] { QFile::remove(beside), QFile::link(open, beside); },
         refused(open, "lies in a folder another user can write.")},
        {"owned by another user", [&] { owner(beside, 65534, 65534); }, changeable, true},
        {"writable by another group", [&] { owner(beside, 0, 65534), mode(beside, 0775); }, changeable, true},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        if (test.asRootOnly && ::geteuid() != 0)
            continue;
        for (const QString &path : {beside, built, open}) {
            QDir().mkpath(QFileInfo(path).path());
            mode(QFileInfo(path).path(), 0755);
            QFile::remove(path);
            ChildProcessProbe::writeExecutable(path, "#!/bin/sh\n");
        }
        mode(base.filePath(QStringLiteral("open")), 0777);
        test.stage();
        const SudoHelper::Lookup lookup = SudoHelper::find({beside, built});
        EXPECT_EQ(lookup.path + lookup.problem, test.expected); // never both
    }
}
