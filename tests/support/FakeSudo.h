#pragma once

#include "platform/ForegroundSudo.h"

#include <QString>

// Stands a shell-script sudo at `path` in for the set-uid one: it counts as
// sudo, any other program named sudo does not.
ForegroundSudo::SetUidCheck fakeSudoCheck(const QString &path);
