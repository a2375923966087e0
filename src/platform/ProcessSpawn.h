#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QList>

#include <sys/types.h>

// What one posix_spawn of a child needs. The child always starts in a session
// of its own (so it leads its process group and a stop can reach every process
// it starts), with an empty signal mask, every signal at its default action,
// and no descriptor other than 0, 1 and 2 (and 3 when asked for).
struct ProcessSpawnRequest {
    QByteArray program;            // path of the program, not searched in PATH
    QList<QByteArray> arguments;   // argv, argv[0] included
    QList<QByteArray> environment; // "KEY=VALUE" entries, the whole environment
    QByteArray workingDirectory;   // empty: the application's current folder

    // Standard input, output and error, in this order of preference:
    // - terminalPath: opened by the child as 0, 1 and 2; a terminal opened this
    //   way by a session leader becomes its controlling terminal;
    // - otherwise standardOutput / standardError (when 0 or more) become 1 and 2,
    //   and standard input stays the application's own.
    QByteArray terminalPath;
    int standardOutput = -1;
    int standardError = -1;
    // When 0 or more, the child gets this descriptor as 3.
    int descriptor3 = -1;
};

struct SpawnedProcess {
    pid_t pid = -1;
    UniqueFd pidfd; // refers to the child until it is reaped; close-on-exec
    int error = 0;  // errno of the failure; pid is -1 then

    bool started() const { return pid > 0; }
};

// Starts the child. Returns at once, never waiting for it: the caller reaps it
// through the pidfd.
SpawnedProcess spawnProcess(const ProcessSpawnRequest &request);
