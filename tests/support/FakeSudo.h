#pragma once

#include "platform/WrapperSudo.h"

#include <QString>

// Stands a shell-script sudo at `path` in for the set-uid one: it counts as
// the set-uid sudo however it was reached, a symlink included (as a set-uid
// program behind a symlink named sudo runs as root all the same); any other
// program does not.
WrapperSudo::SetUidCheck fakeSudoCheck(const QString &path);
