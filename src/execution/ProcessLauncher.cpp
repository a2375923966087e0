#include "execution/ProcessLauncher.h"

#include "execution/ProcessRunnerError.h"
#include "execution/SudoWrapper.h"
#include "platform/Logging.h"
#include "platform/ProcessSpawn.h"
#include "platform/ProcessTermination.h"
#include "platform/PseudoTerminal.h"
#include "platform/SealedMemoryFile.h"
#include "platform/SensitiveBytes.h"
#include "platform/SessionEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

// Entries keep their bytes even when they are not UTF-8.
QList<QByteArray> launchEnvironment(const ProcessLaunchConfiguration &configuration)
{
    QList<QByteArray> keys;
    QHash<QByteArray, QByteArray> entries;
    auto set = [&](const QByteArray &key, const QByteArray &entry) {
        if (!entries.contains(key))
            keys.append(key);
        entries.insert(key, entry);
    };
    const QList<QByteArray> inherited =
        configuration.environmentOnly ? QList<QByteArray>() : SessionEnvironment::entries();
    for (const QByteArray &text : inherited) {
        const qsizetype equals = text.indexOf('=');
        if (equals > 0)
            set(text.left(equals), text);
    }
    for (auto it = configuration.environment.cbegin(); it != configuration.environment.cend(); ++it) {
        const QByteArray key = it.key().toUtf8();
        if (key.isEmpty() || key.contains('='))
            continue;
        QByteArray value = it.value().toUtf8();
        set(key, key + '=' + value);
        SensitiveBytes::wipe(value);
    }
    for (const QString &name : configuration.removedEnvironment) {
        const QByteArray key = name.toUtf8();
        const auto found = entries.find(key);
        if (found == entries.end())
            continue;
        SensitiveBytes::wipe(*found);
        entries.erase(found);
        keys.removeOne(key);
    }
    if (configuration.usePseudoTerminal && !configuration.environmentOnly) {
        if (!entries.contains("PYTHONUNBUFFERED"))
            set("PYTHONUNBUFFERED", "PYTHONUNBUFFERED=1");
        if (!entries.contains("TERM"))
            set("TERM", "TERM=xterm-256color");
    }
    QList<QByteArray> result;
    result.reserve(keys.size());
    for (const QByteArray &key : keys)
        result.append(entries.value(key));
    return result;
}

namespace {

struct ChosenProgram {
    QString program;
    QStringList arguments;
    QString pathText; // what the launch log shows; never the command itself
};

ChosenProgram chooseProgram(const ProcessLaunchConfiguration &configuration)
{
    if (configuration.rawCommand && configuration.useShell) {
        return {configuration.shellPath,
                {QStringLiteral("-lc"), *configuration.rawCommand},
                configuration.shellPath + QStringLiteral(" -lc <command>")};
    }
    if (!configuration.executableURL)
        throw ProcessRunnerError(ProcessRunnerError::Case::missingExecutable);
    const QString executable = configuration.executableURL->toLocalFile();
    if (executable.isEmpty())
        throw ProcessRunnerError(ProcessRunnerError::Case::missingExecutable);
    if (configuration.useShell) {
        QStringList words {shellQuoted(executable)};
        for (const QString &argument : configuration.arguments)
            words.append(shellQuoted(argument));
        return {configuration.shellPath, {QStringLiteral("-lc"), words.join(QLatin1Char(' '))}, executable};
    }
    return {executable, configuration.arguments, executable};
}

QString spawnFailure(const QString &program, const QByteArray &workingDirectory, int error)
{
    if (!workingDirectory.isEmpty() && !QFileInfo(QFile::decodeName(workingDirectory)).isDir())
        return QStringLiteral("Could not enter the folder %1: %2")
            .arg(QFile::decodeName(workingDirectory), qt_error_string(error));
    return QStringLiteral("Could not start %1: %2").arg(program, qt_error_string(error));
}

UniqueFd makePipe(UniqueFd &writeEnd)
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw ProcessRunnerError::launchFailed(qt_error_string(errno));
    UniqueFd readEnd(ends[0]);
    writeEnd.reset(ends[1]);
    const int flags = ::fcntl(readEnd.get(), F_GETFL);
    ::fcntl(readEnd.get(), F_SETFL, flags | O_NONBLOCK);
    return readEnd;
}

} // namespace

std::shared_ptr<RunningProcessHandle> launchProcess(const ProcessLaunchConfiguration &configuration)
{
    const ChosenProgram chosen = chooseProgram(configuration);

    ProcessSpawnRequest request;
    request.program = QFile::encodeName(chosen.program);
    request.arguments.append(request.program);
    for (const QString &argument : chosen.arguments)
        request.arguments.append(argument.toUtf8());
    request.environment = launchEnvironment(configuration);
    // The child has its own copy once spawned; ours may hold decrypted values.
    const auto wipeEnvironment = qScopeGuard([&request] {
        for (QByteArray &entry : request.environment)
            SensitiveBytes::wipe(entry);
    });
    if (configuration.workingDirectory)
        request.workingDirectory = QFile::encodeName(*configuration.workingDirectory);

    std::vector<UniqueFd> outputs;
    std::optional<PseudoTerminal> terminal;
    UniqueFd outputWriteEnd;
    UniqueFd errorWriteEnd;
    if (configuration.usePseudoTerminal) {
        terminal = PseudoTerminal::open();
        if (!terminal)
            throw ProcessRunnerError(ProcessRunnerError::Case::ptyFailed);
        request.terminalPath = terminal->slavePath;
    } else {
        outputs.push_back(makePipe(outputWriteEnd));
        outputs.push_back(makePipe(errorWriteEnd));
        request.standardOutput = outputWriteEnd.get();
        request.standardError = errorWriteEnd.get();
    }

    UniqueFd descriptor3;
    if (configuration.descriptor3Content) {
        descriptor3 = makeSealedMemoryFile("velmora-launch", *configuration.descriptor3Content);
        if (!descriptor3.isValid())
            throw ProcessRunnerError::launchFailed(
                QStringLiteral("Could not prepare the command's environment: %1").arg(qt_error_string(errno)));
        request.descriptor3 = descriptor3.get();
    }

    SpawnedProcess child = spawnProcess(request);
    descriptor3.reset();
    if (!child.started())
        throw ProcessRunnerError::launchFailed(spawnFailure(chosen.program, request.workingDirectory, child.error));
    // The child holds its own ends now; ours would keep the transport from
    // ever reporting its end.
    outputWriteEnd.reset();
    errorWriteEnd.reset();
    if (terminal) {
        terminal->slave.reset();
        outputs.push_back(std::move(terminal->master));
    }

    const pid_t pid = child.pid;
    std::shared_ptr<RunningProcessHandle> handle;
    try {
        handle = RunningProcessHandle::start(pid, std::move(child.pidfd), std::move(outputs),
                                             configuration.usePseudoTerminal);
    } catch (const std::system_error &error) {
        // No watcher thread: the child would run unwatched and unreaped.
        signalProcessGroupById(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        throw ProcessRunnerError::launchFailed(QString::fromLocal8Bit(error.what()));
    }
    qCInfo(lcProcess, "Launched process pid=%d path=%s", int(pid), qUtf8Printable(chosen.pathText));
    return handle;
}
