#pragma once

#include "execution/ProcessLaunchConfiguration.h"
#include "execution/RunningProcessHandle.h"

#include <memory>

// Starts one child as the configuration says and returns its handle; the child
// is running and its output is being collected.
//
// The child runs in a session of its own: it leads its process group, and on
// the pseudo-terminal route the terminal is its controlling terminal. It starts
// with an empty signal mask and default signal actions and holds no descriptor
// but 0, 1 and 2 (and 3 when the configuration gives it content). With a pseudo-terminal, "PYTHONUNBUFFERED" "1" and
// "TERM" "xterm-256color" are added unless the environment has them.
//
// Throws ProcessRunnerError.
std::shared_ptr<RunningProcessHandle> launchProcess(const ProcessLaunchConfiguration &configuration);

// The "KEY=VALUE" entries the child gets: the environment the session gave the
// application (platform/SessionEnvironment), byte for byte, with the
// configuration's entries laid over it, or the configuration's alone when it
// says so. Laid-over values may be decrypted ones: the caller wipes the entries
// (SensitiveBytes::wipe) once used.
QList<QByteArray> launchEnvironment(const ProcessLaunchConfiguration &configuration);
