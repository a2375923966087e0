#include "platform/WrapperSudo.h"

namespace WrapperSudo {

namespace {

std::optional<ProcFileSystem::ProcessStat> liveStat(qint32 pid, const ProcFileSystem &fileSystem)
{
    std::optional<ProcFileSystem::ProcessStat> stat = fileSystem.readProcessStat(pid);
    if (!stat || stat->state == 'Z' || stat->state == 'X')
        return std::nullopt;
    return stat;
}

} // namespace

bool isSystemSudo(qint32 pid, const ProcFileSystem &fileSystem)
{
    if (fileSystem.readEffectiveUserId(pid) != std::optional<quint32>(0))
        return false;
    const std::optional<QString> commandLine = fileSystem.readCommandLine(pid);
    return commandLine && commandLine->startsWith(QStringLiteral("/usr/bin/sudo "));
}

SetUidCheck systemSetUidCheck()
{
    return [](qint32 pid) { return isSystemSudo(pid, ProcFileSystem::system()); };
}

Lookup find(qint32 scriptPid, const QString &wrapperCommandLine, const SetUidCheck &isSetUidSudo,
            const ProcFileSystem &fileSystem)
{
    Lookup lookup;
    if (scriptPid < 1 || wrapperCommandLine.isEmpty() || !isSetUidSudo)
        return lookup;
    for (const qint32 shell : fileSystem.readChildren(scriptPid)) {
        if (fileSystem.readCommandLine(shell) != wrapperCommandLine || !liveStat(shell, fileSystem))
            continue;
        QList<qint32> unreadable;
        for (const qint32 child : fileSystem.readChildren(shell)) {
            const std::optional<ProcFileSystem::ProcessStat> stat = fileSystem.readProcessStat(child);
            if (!stat)
                unreadable.append(child);
            else if (stat->state != 'Z' && stat->state != 'X' && isSetUidSudo(child)) {
                lookup.sudo = ProcessIdentity {child, stat->startTicks};
                break;
            }
        }
        // A child that ended and was reaped meanwhile is no longer listed.
        if (!lookup.sudo && !unreadable.isEmpty()) {
            for (const qint32 child : fileSystem.readChildren(shell))
                lookup.sudoHidden =
                    lookup.sudoHidden || (unreadable.contains(child) && !fileSystem.readProcessStat(child));
        }
        // The shell may have made way for the login shell meanwhile, whose
        // children are none of the wrapper's.
        if (fileSystem.readCommandLine(shell) == wrapperCommandLine) {
            lookup.wrapperRunning = true;
        } else {
            lookup.sudo.reset();
            lookup.sudoHidden = false;
        }
        break;
    }
    return lookup;
}

} // namespace WrapperSudo
