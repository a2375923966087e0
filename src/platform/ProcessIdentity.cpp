#include "platform/ProcessIdentity.h"

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

bool processGroupExists(qint32 processGroup)
{
    return processGroup > 0 && (::kill(-processGroup, 0) == 0 || errno == EPERM);
}
