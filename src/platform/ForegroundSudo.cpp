#include "platform/ForegroundSudo.h"

#include <QSet>

#include <unistd.h>

namespace ForegroundSudo {

namespace {

bool isLive(const ProcFileSystem::ProcessStat &stat)
{
    return stat.state != 'Z' && stat.state != 'X';
}

// The sessions whose terminal the child's input reaches: the child's own and,
// when the child is script, that of the one shell script started in its inner
// terminal. Other descendants that lead a session of their own have a
// terminal that the child's input never reaches.
QSet<qint32> terminalSessions(qint32 childPid, const QList<ProcFileSystem::ProcessStatEntry> &processes)
{
    QSet<qint32> sessions {childPid};
    const auto child =
        std::find_if(processes.cbegin(), processes.cend(),
                     [&](const ProcFileSystem::ProcessStatEntry &entry) { return entry.pid == childPid; });
    if (child == processes.cend() || child->stat.name != "script")
        return sessions;
    for (const ProcFileSystem::ProcessStatEntry &entry : processes) {
        if (entry.stat.parent == childPid && entry.stat.session == entry.pid)
            sessions.insert(entry.pid);
    }
    return sessions;
}

} // namespace

bool runsAsAnotherUser(qint32 pid, const ProcFileSystem &fileSystem)
{
    const std::optional<quint32> effective = fileSystem.readEffectiveUserId(pid);
    return effective && *effective != ::getuid();
}

SetUidCheck systemSetUidCheck()
{
    return [](qint32 pid) { return runsAsAnotherUser(pid, ProcFileSystem::system()); };
}

std::optional<ProcessIdentity> find(qint32 childPid, const QString &prompt, const SetUidCheck &isSetUidSudo,
                                    const ProcFileSystem &fileSystem)
{
    if (childPid < 1 || prompt.isEmpty() || !isSetUidSudo)
        return std::nullopt;
    const QList<ProcFileSystem::ProcessStatEntry> processes = fileSystem.readAllProcessStats();
    const QSet<qint32> sessions = terminalSessions(childPid, processes);
    for (const ProcFileSystem::ProcessStatEntry &entry : processes) {
        const ProcFileSystem::ProcessStat &stat = entry.stat;
        const bool inForeground = stat.terminalForegroundGroup > 0 && stat.processGroup == stat.terminalForegroundGroup;
        if (stat.name != "sudo" || !isLive(stat) || !inForeground || !sessions.contains(stat.session))
            continue;
        const std::optional<QString> commandLine = fileSystem.readCommandLine(entry.pid);
        if (!commandLine || !commandLine->contains(QStringLiteral(" -p ") + prompt))
            continue;
        if (isSetUidSudo(entry.pid))
            return ProcessIdentity {entry.pid, stat.startTicks};
    }
    return std::nullopt;
}

} // namespace ForegroundSudo
