#include "execution/TerminalFolderCleanup.h"
#include "execution/TerminalLaunch.h"
#include "execution/TerminalLaunchError.h"
#include "support/Await.h"
#include "support/ChildOutputRecorder.h"
#include "support/FakeTerminalLauncher.h"
#include "support/LogCapture.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <system_error>

#include <sys/stat.h>

namespace {

mode_t permissions(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Each test gets its own runtime folder, where the script folders go.
class TerminalLaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    QString runtime() const { return m_runtime.path(); }
    QStringList scriptFolders() const
    {
        return QDir(runtime()).entryList({QStringLiteral("velmora-*")}, QDir::AllEntries | QDir::System | QDir::Hidden);
    }

    static TerminalLaunchRequest request(const QString &command)
    {
        return {QStringLiteral("Web"), command, {}, QStringLiteral("/bin/sh"), QDir::homePath()};
    }

    QTemporaryDir m_runtime;
    FakeTerminalLauncher launcher;
    TerminalFolderCleanup cleanup;
};

} // namespace

TEST_F(TerminalLaunch, ScriptExportsSortedVariablesAndFlushesInputOnlyBeforeSudo)
{
    TerminalLaunchRequest plain {QStringLiteral("Web"),
                                 QStringLiteral("npm start"),
                                 {{QStringLiteral("PLAIN"), QStringLiteral("value")},
                                  {QStringLiteral("API_TOKEN"), QStringLiteral("s3cr'et")},
                                  {QStringLiteral("A_FIRST"), QStringLiteral("x y")},
                                  {QString(), QStringLiteral("skipped")},
                                  {QStringLiteral(" PAD\t"), QStringLiteral("trimmed name")}},
                                 QStringLiteral("/bin/zsh"),
                                 QStringLiteral("/home/me")};
    EXPECT_EQ(makeTerminalScript(plain, QStringLiteral("/r/velmora-X/run.command"), QStringLiteral("/r/velmora-X")),
              QStringLiteral("#!/bin/zsh\n"
                             "export PAD='trimmed name'\n"
                             "export API_TOKEN='s3cr'\\''et'\n"
                             "export A_FIRST='x y'\n"
                             "export PLAIN='value'\n"
                             "cd '/home/me'\n"
                             "/bin/rm -f '/r/velmora-X/run.command'\n"
                             "/bin/rmdir '/r/velmora-X' 2>/dev/null || true\n"
                             "npm start\n"));

    TerminalLaunchRequest sudo {QStringLiteral("Web"),
                                QStringLiteral("cd /srv && sudo apachectl restart"),
                                {},
                                QStringLiteral("/bin/bash"),
                                QString()};
    EXPECT_EQ(makeTerminalScript(sudo, QStringLiteral("/t/it's/run.command"), QStringLiteral("/t/it's")),
              QStringLiteral("#!/bin/bash\n"
                             "/bin/rm -f '/t/it'\\''s/run.command'\n"
                             "/bin/rmdir '/t/it'\\''s' 2>/dev/null || true\n"
                             "if [ -t 0 ]; then /usr/bin/perl -MPOSIX -e 'tcflush(STDIN, 0)' 2>/dev/null || true; fi\n"
                             "cd /srv && sudo apachectl restart\n"));
}

TEST_F(TerminalLaunch, ShellPathMustBeAbsoluteWithoutLineBreaks)
{
    struct Case {
        QString path;
        bool safe;
    };
    const Case cases[] = {
        {QStringLiteral("/bin/zsh"), true},
        {QStringLiteral("/opt/my shell/fish"), true},
        {QStringLiteral("bin/zsh"), false},
        {QString(), false},
        {QStringLiteral("/bin/zsh\n"), false},
        {QStringLiteral("/bin/\rzsh"), false},
        {QStringLiteral("/bin/zsh\u000B"), false},
        {QStringLiteral("/bin/zsh\u0085"), false},
        {QStringLiteral("/bin/zsh\u2028"), false},
        {QStringLiteral("/bin/zsh\u2029"), false},
        {QStringLiteral("/bin/zs") + QChar(0) + QStringLiteral("h"), false},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.path.toStdString());
        EXPECT_EQ(isSafeShellPath(testCase.path), testCase.safe);
        if (testCase.safe)
            continue;
        TerminalLaunchRequest unsafe = request(QStringLiteral("true"));
        unsafe.shellPath = testCase.path;
        try {
            launchInTerminal(unsafe, launcher, cleanup);
            ADD_FAILURE() << "launched with an unsafe shell";
        } catch (const TerminalLaunchError &error) {
            EXPECT_EQ(error.errorCase(), TerminalLaunchError::Case::launchFailed);
            EXPECT_EQ(error.message(),
                      QStringLiteral("Failed to launch: Default shell must be an absolute path without line breaks."));
        }
    }
    EXPECT_TRUE(scriptFolders().isEmpty());
    EXPECT_TRUE(launcher.launched.isEmpty());
}

TEST_F(TerminalLaunch, InvalidKeyFailsBeforeAnyScriptAndLeavesNoFolder)
{
    for (const QString &key : {QStringLiteral("1ABC"), QStringLiteral("A-B"), QStringLiteral("MY VAR"),
                               QStringLiteral("Ä"), QStringLiteral("  ")}) {
        SCOPED_TRACE(key.toStdString());
        TerminalLaunchRequest invalid = request(QStringLiteral("true"));
        invalid.environment = {{QStringLiteral("GOOD"), QStringLiteral("1")}, {key, QStringLiteral("x")}};
        try {
            launchInTerminal(invalid, launcher, cleanup);
            ADD_FAILURE() << "launched with an invalid key";
        } catch (const TerminalLaunchError &error) {
            EXPECT_EQ(error.errorCase(), TerminalLaunchError::Case::invalidEnvironmentKey);
            EXPECT_EQ(error.key(), key);
            EXPECT_EQ(error.message(), QStringLiteral("Invalid environment variable key \u201C%1\u201D.").arg(key));
        }
    }
    EXPECT_TRUE(scriptFolders().isEmpty());
    EXPECT_TRUE(launcher.launched.isEmpty());
    EXPECT_TRUE(cleanup.pendingFolders().isEmpty());
}

TEST_F(TerminalLaunch, ScriptIsWrittenNewAndNeverThroughALink)
{
    const QString victim = runtime() + QStringLiteral("/victim");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("precious\n");
    file.close();

    const QString planted = runtime() + QStringLiteral("/planted.command");
    const QString dangling = runtime() + QStringLiteral("/dangling.command");
    ASSERT_TRUE(QFile::link(victim, planted));
    ASSERT_TRUE(QFile::link(runtime() + QStringLiteral("/would-be-created"), dangling));
    for (const QString &path : {planted, dangling, victim}) {
        SCOPED_TRACE(path.toStdString());
        try {
            writeTerminalScript(QStringLiteral("#!/bin/sh\necho owned\n"), path);
            ADD_FAILURE() << "wrote over an existing path";
        } catch (const std::system_error &error) {
            EXPECT_EQ(error.code().value(), EEXIST);
        }
    }
    EXPECT_EQ(readFile(victim), QStringLiteral("precious\n"));
    EXPECT_TRUE(QFileInfo(planted).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(runtime() + QStringLiteral("/would-be-created")));

    // The mode is exactly 0700 even under a umask that would take bits away.
    const mode_t previous = ::umask(0177);
    const QString fresh = runtime() + QStringLiteral("/fresh.command");
    writeTerminalScript(QStringLiteral("#!/bin/sh\necho é\n"), fresh);
    ::umask(previous);
    EXPECT_EQ(permissions(fresh), mode_t(0700));
    EXPECT_EQ(readFile(fresh), QStringLiteral("#!/bin/sh\necho é\n"));

    try {
        writeTerminalScript(QStringLiteral("x"), runtime() + QStringLiteral("/missing-folder/run.command"));
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

TEST_F(TerminalLaunch, FailedTerminalStartRemovesTheFolder)
{
    launcher.succeeds = false;
    LogCapture log;
    try {
        launchInTerminal(request(QStringLiteral("true")), launcher, cleanup);
        ADD_FAILURE() << "reported a failed start as success";
    } catch (const TerminalLaunchError &error) {
        EXPECT_EQ(error.launchMessage(), QStringLiteral("Terminal launch request failed."));
        EXPECT_EQ(error.message(), QStringLiteral("Failed to launch: Terminal launch request failed."));
    }
    ASSERT_EQ(launcher.launched.size(), 1);
    EXPECT_TRUE(scriptFolders().isEmpty());
    EXPECT_TRUE(cleanup.pendingFolders().isEmpty());
    EXPECT_FALSE(log.contains(QStringLiteral("in a terminal window")));
}

TEST_F(TerminalLaunch, ScriptRunsTheCommandWithItsEnvironmentAndRemovesItself)
{
    QTemporaryDir home;
    const QString marker = home.filePath(QStringLiteral("marker"));
    TerminalLaunchRequest run =
        request(QStringLiteral("printf '%s|%s|%s\\n' \"$SECRET\" \"$PLAIN\" \"$PWD\" > marker"));
    run.homePath = home.path();
    run.environment = {{QStringLiteral("SECRET"), QStringLiteral("it's a \"secret\" $HOME")},
                       {QStringLiteral("PLAIN"), QStringLiteral("plain")}};

    QString folderAtLaunch;
    launcher.onLaunch = [&](const QString &script) {
        folderAtLaunch = QFileInfo(script).path();
        EXPECT_EQ(QFileInfo(script).fileName(), QStringLiteral("run.command"));
        EXPECT_EQ(QFileInfo(folderAtLaunch).path(), runtime());
        EXPECT_TRUE(QFileInfo(folderAtLaunch)
                        .fileName()
                        .contains(QRegularExpression(
                            QStringLiteral("^velmora-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))));
        EXPECT_EQ(permissions(folderAtLaunch), mode_t(0700));
        EXPECT_EQ(permissions(script), mode_t(0700));
    };
    LogCapture log;
    launchInTerminal(run, launcher, cleanup);
    ASSERT_EQ(launcher.launched.size(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("process: Launched Web in a terminal window")));
    EXPECT_EQ(cleanup.pendingFolders(), QStringList {folderAtLaunch});

    // Run it the way a terminal would.
    QProcess shell;
    shell.start(launcher.launched.front(), {});
    ASSERT_TRUE(shell.waitForFinished(10000));
    EXPECT_EQ(shell.exitCode(), 0);
    EXPECT_EQ(readFile(marker), QStringLiteral("it's a \"secret\" $HOME|plain|%1\n").arg(home.path()));
    EXPECT_FALSE(QFileInfo::exists(folderAtLaunch));
    cleanup.removePendingNow();
    EXPECT_TRUE(cleanup.pendingFolders().isEmpty());
}

TEST_F(TerminalLaunch, PendingFoldersGoAfterTheirDelayOrAtQuit)
{
    const QString early = runtime() + QStringLiteral("/velmora-early");
    const QString late = runtime() + QStringLiteral("/velmora-late");
    for (const QString &folder : {early, late}) {
        ASSERT_TRUE(QDir().mkdir(folder));
        writeTerminalScript(QStringLiteral("#!/bin/sh\n"), folder + QStringLiteral("/run.command"));
    }
    cleanup.schedule(early, std::chrono::milliseconds(10));
    cleanup.schedule(late, std::chrono::hours(1));
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(early); }));
    EXPECT_EQ(cleanup.pendingFolders(), QStringList {late});
    EXPECT_TRUE(QFileInfo::exists(late));

    cleanup.removePendingNow();
    EXPECT_FALSE(QFileInfo::exists(late));
    EXPECT_TRUE(cleanup.pendingFolders().isEmpty());

    // A folder left pending goes with its clean-up object at the latest.
    const QString atExit = runtime() + QStringLiteral("/velmora-at-exit");
    ASSERT_TRUE(QDir().mkdir(atExit));
    {
        TerminalFolderCleanup quitting;
        quitting.schedule(atExit, std::chrono::hours(1));
    }
    EXPECT_FALSE(QFileInfo::exists(atExit));
}

TEST_F(TerminalLaunch, StartUpRemovesOnlyOurStaleFolders)
{
    const auto makeFolder = [&](const QString &name, const QString &file = QStringLiteral("run.command")) {
        QString folder = runtime() + QLatin1Char('/') + name;
        EXPECT_TRUE(QDir().mkdir(folder));
        writeTerminalScript(QStringLiteral("#!/bin/sh\nexport TOKEN=secret\n"), folder + QLatin1Char('/') + file);
        return folder;
    };
    const QString stale = makeFolder(QStringLiteral("velmora-0F8FAD5B-D9CB-469F-A165-70867728950E"));
    const QString pending = makeFolder(QStringLiteral("velmora-7C9E6679-7425-40DE-944B-E07FC1F90AE7"));
    const QString notOurs = makeFolder(QStringLiteral("velmora-notes"));
    const QString crowded =
        makeFolder(QStringLiteral("velmora-16FD2706-8BAF-433B-82EB-8C7FADA847DA"), QStringLiteral("other"));
    const QString elsewhere = makeFolder(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QFile::link(elsewhere, runtime() + QStringLiteral("/velmora-886313E1-3B8A-5372-9B90-0C9AEE199E5D")));
    cleanup.schedule(pending, std::chrono::hours(1));

    cleanup.removeStaleFolders({runtime()});
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(pending + QStringLiteral("/run.command")));
    EXPECT_TRUE(QFileInfo::exists(notOurs + QStringLiteral("/run.command")));
    EXPECT_TRUE(QFileInfo::exists(crowded + QStringLiteral("/other")));
    EXPECT_TRUE(QFileInfo::exists(elsewhere + QStringLiteral("/run.command")));
    EXPECT_EQ(terminalScriptBaseFolders(), (QStringList {runtime(), QDir::cleanPath(QDir::tempPath())}));
}

TEST_F(TerminalLaunch, CleanupNeverFollowsALinkInTheFolderPlace)
{
    const QString elsewhere = runtime() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkdir(elsewhere));
    writeTerminalScript(QStringLiteral("#!/bin/sh\n"), elsewhere + QStringLiteral("/run.command"));
    const QString folder = runtime() + QStringLiteral("/velmora-swapped");
    ASSERT_TRUE(QFile::link(elsewhere, folder));

    removeTerminalFolder(folder);
    EXPECT_TRUE(QFileInfo::exists(elsewhere + QStringLiteral("/run.command")));

    // A folder that holds more than its script keeps it all.
    const QString crowded = runtime() + QStringLiteral("/velmora-crowded");
    ASSERT_TRUE(QDir().mkdir(crowded));
    writeTerminalScript(QStringLiteral("#!/bin/sh\n"), crowded + QStringLiteral("/other"));
    removeTerminalFolder(crowded);
    EXPECT_TRUE(QFileInfo::exists(crowded + QStringLiteral("/other")));
}

TEST_F(TerminalLaunch, RealTerminalEmulatorRunsTheScriptUnderXvfb)
{
    const QString xterm = QStandardPaths::findExecutable(QStringLiteral("xterm"));
    if (xterm.isEmpty())
        GTEST_SKIP() << "xterm is not installed (scripts/install-deps.sh installs it)";
    XvfbServer server;
    if (!server.start())
        GTEST_SKIP() << "no X server could be started: " << server.error().toStdString();
    qputenv("DISPLAY", server.display());
    qputenv("TERMINAL", QFile::encodeName(xterm));

    QTemporaryDir home;
    const QString marker = home.filePath(QStringLiteral("marker"));
    TerminalLaunchRequest run = request(QStringLiteral("printf '%s\\n' \"$GREETING\" > marker.partial && "
                                                       "mv marker.partial marker"));
    run.homePath = home.path();
    run.environment = {{QStringLiteral("GREETING"), QStringLiteral("hello from 'xterm'")}};

    TerminalLauncher desktop;
    launchInTerminal(run, desktop, cleanup);
    const QStringList pending = cleanup.pendingFolders();
    ASSERT_EQ(pending.size(), 1);

    EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(marker); }, 30000))
        << "xterm on " << server.display().constData() << " never ran the script";
    EXPECT_EQ(readFile(marker), QStringLiteral("hello from 'xterm'\n"));
    EXPECT_FALSE(QFileInfo::exists(pending.front()));
    EXPECT_TRUE(scriptFolders().isEmpty());
}
