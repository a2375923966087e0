#include "platform/TerminalLauncher.h"

#include "platform/Logging.h"
#include "platform/ProcessSpawn.h"
#include "platform/SessionEnvironment.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <thread>

#include <sys/wait.h>

namespace {

QString findExecutable(const QString &name, const QStringList &searchPath)
{
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/'))) {
        const QFileInfo info(name);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(name, searchPath);
}

// The emulator is our child until it exits; a small thread reaps it so it never
// lingers as a zombie, while the caller goes on at once.
void reapInBackground(SpawnedProcess process)
{
    std::thread([pidfd = std::move(process.pidfd)] {
        siginfo_t info {};
        while (::waitid(P_PIDFD, id_t(pidfd.get()), &info, WEXITED) != 0 && errno == EINTR) {}
    }).detach();
}

} // namespace

QList<TerminalEmulatorCommand> TerminalLauncher::candidates(const QString &terminalVariable,
                                                            const QStringList &searchPath)
{
    const QList<TerminalEmulatorCommand> wanted = {
        {terminalVariable.trimmed(), {QStringLiteral("-e")}},
        {QStringLiteral("x-terminal-emulator"), {QStringLiteral("-e")}},
        {QStringLiteral("gnome-terminal"), {QStringLiteral("--")}},
        {QStringLiteral("konsole"), {QStringLiteral("-e")}},
        {QStringLiteral("xfce4-terminal"), {QStringLiteral("-x")}},
        {QStringLiteral("xterm"), {QStringLiteral("-e")}},
    };
    QList<TerminalEmulatorCommand> found;
    for (const TerminalEmulatorCommand &command : wanted) {
        const QString program = findExecutable(command.program, searchPath);
        if (!program.isEmpty())
            found.append({program, command.arguments});
    }
    return found;
}

bool TerminalLauncher::launch(const QString &scriptPath)
{
    const QStringList searchPath = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const QList<TerminalEmulatorCommand> commands = candidates(qEnvironmentVariable("TERMINAL"), searchPath);
    if (commands.isEmpty()) {
        qCCritical(lcProcess, "No terminal emulator is installed");
        return false;
    }
    for (const TerminalEmulatorCommand &command : commands) {
        ProcessSpawnRequest request;
        request.program = QFile::encodeName(command.program);
        request.arguments.append(request.program);
        for (const QString &argument : command.arguments)
            request.arguments.append(argument.toUtf8());
        request.arguments.append(QFile::encodeName(scriptPath));
        request.environment = SessionEnvironment::entries();
        request.terminalPath = QByteArrayLiteral("/dev/null");
        SpawnedProcess process = spawnProcess(request);
        if (process.started()) {
            reapInBackground(std::move(process));
            return true;
        }
        qCCritical(lcProcess, "Failed to start %s: %s", qUtf8Printable(command.program),
                   qUtf8Printable(qt_error_string(process.error)));
    }
    return false;
}
