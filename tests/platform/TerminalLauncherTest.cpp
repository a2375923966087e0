#include "platform/TerminalLauncher.h"
#include "support/Await.h"
#include "support/ChildOutputRecorder.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TEST(TerminalLauncher, PrefersTheUsersTerminalThenTheKnownEmulatorsThatAreInstalled)
{
    QTemporaryDir bin;
    for (const char *name : {"xterm", "konsole", "my-term"})
        ChildProcessProbe::writeExecutable(bin.filePath(QString::fromUtf8(name)), "#!/bin/sh\n");
    // Present but not executable: not a candidate.
    QFile plain(bin.filePath(QStringLiteral("gnome-terminal")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QStringList path {bin.path()};
    const QString e = QStringLiteral("-e");

    EXPECT_EQ(TerminalLauncher::candidates(QString(), path),
              (QList<TerminalEmulatorCommand> {{bin.filePath(QStringLiteral("konsole")), {e}},
                                               {bin.filePath(QStringLiteral("xterm")), {e}}}));
    EXPECT_EQ(TerminalLauncher::candidates(QStringLiteral("my-term"), path).value(0),
              (TerminalEmulatorCommand {bin.filePath(QStringLiteral("my-term")), {e}}));
    QTemporaryDir nothingInstalled;
    EXPECT_EQ(TerminalLauncher::candidates(bin.filePath(QStringLiteral("my-term")), {nothingInstalled.path()}),
              (QList<TerminalEmulatorCommand> {{bin.filePath(QStringLiteral("my-term")), {e}}}));
    EXPECT_EQ(TerminalLauncher::candidates(QStringLiteral("/nonexistent/term"), path).size(), 2);

    ChildProcessProbe::writeExecutable(bin.filePath(QStringLiteral("gnome-terminal")), "#!/bin/sh\n");
    ChildProcessProbe::writeExecutable(bin.filePath(QStringLiteral("xfce4-terminal")), "#!/bin/sh\n");
    ChildProcessProbe::writeExecutable(bin.filePath(QStringLiteral("x-terminal-emulator")), "#!/bin/sh\n");
    const QList<TerminalEmulatorCommand> all = TerminalLauncher::candidates(QString(), path);
    QStringList order;
    for (const TerminalEmulatorCommand &command : all)
        order.append(QFileInfo(command.program).fileName() + QLatin1Char(' ')
                     + command.arguments.join(QLatin1Char(' ')));
    EXPECT_EQ(order, (QStringList {QStringLiteral("x-terminal-emulator -e"), QStringLiteral("gnome-terminal --"),
                                   QStringLiteral("konsole -e"), QStringLiteral("xfce4-terminal -x"),
                                   QStringLiteral("xterm -e")}));
}

TEST(TerminalLauncher, StartsTheEmulatorDetachedWithTheScript)
{
    QTemporaryDir bin;
    const QString seen = bin.filePath(QStringLiteral("seen"));
    // An emulator that notes how it was called and then stays open, as a
    // terminal window would: the launch must not wait for it.
    ChildProcessProbe::writeExecutable(
        bin.filePath(QStringLiteral("slow-term")),
        QStringLiteral("#!/bin/sh\nprintf '%s|' \"$@\" > '%1.partial'; /bin/mv '%1.partial' '%1'\nexec /bin/sleep 3\n")
            .arg(seen)
            .toUtf8());
    qputenv("PATH", QFile::encodeName(bin.path()));
    qputenv("TERMINAL", "slow-term");

    TerminalLauncher launcher;
    EXPECT_TRUE(launcher.launch(QStringLiteral("/some where/run.command")));
    EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(seen); }));
    EXPECT_EQ(readFile(seen), QStringLiteral("-e|/some where/run.command|"));
}

TEST(TerminalLauncher, FailsWhenNoEmulatorCanBeStarted)
{
    QTemporaryDir empty;
    qputenv("PATH", QFile::encodeName(empty.path()));
    qunsetenv("TERMINAL");
    TerminalLauncher launcher;
    EXPECT_FALSE(launcher.launch(QStringLiteral("/tmp/run.command")));
}
