#pragma once

#include "platform/ProcFileSystem.h"

#include <optional>

// A process known only by its id, pinned to the one that had that id when it
// was recorded: its start time from /proc/<pid>/stat tells it from a later
// process that reuses the id. `kill(pid, 0)` cannot tell them apart and calls
// a zombie alive.
struct ProcessIdentity {
    qint32 pid = 0;
    // Clock ticks after boot; none when the process could not be read when recorded.
    std::optional<quint64> startTicks;

    // The process that has this id now; its start time is left out when it
    // cannot be read (gone already), which makes it count as ended.
    static ProcessIdentity current(qint32 pid, const ProcFileSystem &fileSystem);

    // True while a process with this id and start time exists and is not a
    // zombie. Another user's process counts, since its stat file is readable.
    bool isAlive(const ProcFileSystem &fileSystem) const;

    friend bool operator==(const ProcessIdentity &, const ProcessIdentity &) = default;
};

// Whether any process of the group still runs. Zombies do not count: an
// orphaned member that has died stays a zombie until the system's reaper
// gets to it, which may take seconds.
bool processGroupHasLiveMembers(qint32 processGroup, const ProcFileSystem &fileSystem);
