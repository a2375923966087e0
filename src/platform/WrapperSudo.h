#pragma once

#include "platform/ProcFileSystem.h"
#include "platform/ProcessIdentity.h"

#include <QString>

#include <functional>
#include <optional>

// Finds the sudo that the sudo wrapper started. Only that sudo may be given
// the password: anything else that shows the same prompt (a start-up file, the
// command, another program named sudo) would receive it in its place. The
// wrapper shell is the one process script started in its terminal; as long as
// it still runs the wrapper's own command line it has run no file of the
// user's, so its only possible child is the wrapper's sudo.
namespace WrapperSudo {

// Whether the process is the set-uid sudo. Tests stand in their own fake.
using SetUidCheck = std::function<bool(qint32 pid)>;

// Runs as root and was started as /usr/bin/sudo. The executable link of a
// set-uid process cannot be read by its user, so the command line stands in.
bool isSystemSudo(qint32 pid, const ProcFileSystem &fileSystem);
SetUidCheck systemSetUidCheck();

struct Lookup {
    // The wrapper shell still runs the wrapper: it has not yet made way for
    // the command's login shell, nor ended.
    bool wrapperRunning = false;
    // Its child that passes the set-uid check.
    std::optional<ProcessIdentity> sudo;
    // No such child, but one is listed whose process entry cannot be read,
    // before and after: the system hides it (as /proc's hidepid does with
    // other users' processes), so whether it is the set-uid sudo is unknown.
    bool sudoHidden = false;
};

// The wrapper shell among the children of script (`scriptPid`) whose command
// line is `wrapperCommandLine` (its arguments joined by single spaces), and
// that shell's sudo.
Lookup find(qint32 scriptPid, const QString &wrapperCommandLine, const SetUidCheck &isSetUidSudo,
            const ProcFileSystem &fileSystem);

} // namespace WrapperSudo
