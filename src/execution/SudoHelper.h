#pragma once

#include <QString>
#include <QStringList>

// velmora-exec-environment (platform/ExecWithEnvironmentMain.cpp), the program
// a sudo run's wrapper execs as soon as sudo has accepted the password. The
// build puts it beside the velmora binary. A helper that cannot run would fail
// the run only after the password went to sudo, and one that anyone but the
// user or root can change would run their code in its place; so it is found and
// checked before a password is asked for, and again before the launch.
namespace SudoHelper {

inline const QString fileName = QStringLiteral("velmora-exec-environment");

// Beside the running binary, then where the build put it.
QStringList candidates();

struct Lookup {
    // The helper to exec, every link resolved; empty when refused.
    QString path;
    // Why no sudo run may start, in one line; empty when `path` may run.
    QString problem;
};

// The first of `candidates` that exists, accepted when it is a regular file
// the user may execute and neither it nor its folder can be written by anyone
// but the user or root.
Lookup find(const QStringList &candidates = SudoHelper::candidates());

// The accepted helper's path; otherwise throws the lookup's problem as a
// launch failure.
QString require(const QStringList &candidates = SudoHelper::candidates());

} // namespace SudoHelper
