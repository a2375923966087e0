#pragma once

#include "platform/ProcFileSystem.h"
#include "platform/ProcessIdentity.h"

#include <QString>

#include <functional>
#include <optional>

// Finds the sudo that is asking for its password on a child's terminal. Only
// that sudo may be given the password: anything else that shows the same
// prompt (a start-up file, the command itself, another program of the user)
// would receive it in its place.
namespace ForegroundSudo {

// Whether the process is the set-uid sudo. Tests stand in their own fake.
using SetUidCheck = std::function<bool(qint32 pid)>;

// The set-uid program runs with an effective user id other than ours, which
// no program of our own user can take on.
bool runsAsAnotherUser(qint32 pid, const ProcFileSystem &fileSystem);
SetUidCheck systemSetUidCheck();

// The process named sudo in the foreground of the child's terminal whose
// command line carries `prompt` and which passes `isSetUidSudo`, if any. The
// terminal is the child's own, or, when the child is util-linux script, the
// inner one script made for its command.
std::optional<ProcessIdentity> find(qint32 childPid, const QString &prompt, const SetUidCheck &isSetUidSudo,
                                    const ProcFileSystem &fileSystem);

} // namespace ForegroundSudo
