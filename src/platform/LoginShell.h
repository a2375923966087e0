#pragma once

#include <QString>

#include <sys/types.h>

// The account's login shell from the passwd database; empty when the account
// has no entry or the entry names no shell.
QString loginShellOf(uid_t uid);

// The shell services run through when the person has chosen none: their login
// shell, so that a command finds what it finds in their terminal (PATH entries
// of ~/.profile, ~/.zprofile, version managers). Velmora writes sh syntax
// around the command (the sudo wrapper, the terminal script's exports) and
// starts the shell with -lc, so a login shell outside the sh family (csh,
// tcsh, fish, nologin, …), or one that is not an executable file, gives
// /bin/sh, which reads ~/.profile as a login shell.
QString defaultServiceShellFor(const QString &loginShell);

// defaultServiceShellFor the login shell of the process's own account, looked
// up once per process.
QString defaultServiceShell();
