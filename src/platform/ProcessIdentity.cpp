#include "platform/ProcessIdentity.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

ProcessIdentity ProcessIdentity::current(qint32 pid, const ProcFileSystem &fileSystem)
{
    ProcessIdentity identity;
    identity.pid = pid;
    if (pid > 0) {
        if (const auto stat = fileSystem.readProcessStat(pid))
            identity.startTicks = stat->startTicks;
    }
    return identity;
}

bool ProcessIdentity::isAlive(const ProcFileSystem &fileSystem) const
{
    if (pid < 1 || !startTicks)
        return false;
    const auto stat = fileSystem.readProcessStat(pid);
    return stat && stat->startTicks == *startTicks && stat->state != 'Z' && stat->state != 'X';
}

bool processGroupHasLiveMembers(qint32 processGroup, const ProcFileSystem &fileSystem)
{
    // The cheap answer first: no process at all with that group.
    if (processGroup < 1 || (::kill(-processGroup, 0) != 0 && errno != EPERM))
        return false;
    const QList<qint32> pids = fileSystem.listProcessIds();
    return std::any_of(pids.cbegin(), pids.cend(), [&](qint32 pid) {
        const auto stat = fileSystem.readProcessStat(pid);
        return stat && stat->processGroup == processGroup && stat->state != 'Z' && stat->state != 'X';
    });
}
