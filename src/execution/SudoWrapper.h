#pragma once

#include "execution/ProcessLaunchConfiguration.h"

#include <QMap>
#include <QString>

#include <optional>

// The pieces that let a command that calls sudo be given its password once,
// through the child's terminal, without the password entering any command
// line, environment or file.
namespace SudoWrapper {

inline const QString sudoPath = QStringLiteral("/usr/bin/sudo");
inline const QString scriptPath = QStringLiteral("/usr/bin/script");

} // namespace SudoWrapper

// A single-quoted shell word: the text between ', each ' written as '\''.
QString shellQuoted(const QString &text);

// Whether the command calls sudo: the word sudo or /usr/bin/sudo at the start
// or after whitespace or one of ; & | ( ), followed by whitespace or the end.
bool commandCallsSudo(const QString &command);

// "[Velmora sudo <new upper-case UUID>] password: ", different for every
// launch; none when the command does not call sudo or no password was given.
std::optional<QString> makeSudoPrompt(const QString &command, bool passwordGiven);

// /usr/bin/sudo -S -p '<prompt>' -v && exec '<shell>' -lc '<command>': sudo
// validates the password read from its terminal, and only then the shell
// replaces the wrapper and runs the command as a login shell. `sudo` is the
// program named first (tests put a stand-in there); `beforeExec`, when given,
// stands between && and exec.
QString makeSudoWrapperCommand(const QString &shellPath, const QString &command, const QString &prompt,
                               const QString &sudo = SudoWrapper::sudoPath, const QString &beforeExec = {});

// The launch of a command that calls sudo, given a password: util-linux script
// gives the wrapper a terminal of its own,
//   /usr/bin/script -q -f -e -E never -c "exec /bin/sh -c '<wrapper>'" /dev/null
// with SHELL=/bin/sh and neither ENV nor BASH_ENV in script's environment, so
// that nothing of the user's runs before the wrapper's sudo has validated: a
// start-up file could otherwise show the prompt and read the reply itself.
// The wrapper gives the command's login shell back the user's SHELL, ENV and
// BASH_ENV. -e passes the command's exit code on, and -E never keeps the inner
// terminal from echoing the password into the output.
struct SudoLaunch {
    ProcessLaunchConfiguration configuration;
    // The command line of the wrapper shell, script's child, until it execs
    // the login shell.
    QString wrapperCommandLine;
};
SudoLaunch makeSudoLaunchConfiguration(const QString &shellPath, const QString &command, const QString &prompt,
                                       const QMap<QString, QString> &environment, const QString &workingDirectory,
                                       const QString &sudo = SudoWrapper::sudoPath);
