#pragma once

#include "execution/TerminalScript.h"

class TerminalFolderCleanup;
class TerminalLauncher;

// Hands a service to a window of the desktop's terminal emulator: writes the
// one-shot script into a new private folder ("velmora-" and an upper-case
// UUID, mode 0700, under terminalScriptBaseFolder()), starts the emulator on
// it without waiting for it, and schedules the folder's removal 30 seconds
// later. Nothing of the run is tracked afterwards; the caller marks the
// service's runtime entry as not running.
//
// Throws TerminalLaunchError; on every failure the folder is gone again.
void launchInTerminal(const TerminalLaunchRequest &request, TerminalLauncher &launcher, TerminalFolderCleanup &cleanup);
