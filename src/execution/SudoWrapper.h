#pragma once

#include "execution/ProcessLaunchConfiguration.h"

#include <QByteArray>
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
QByteArray shellQuotedBytes(QByteArrayView text);

// Whether the command calls sudo: the word sudo or /usr/bin/sudo at the start
// or after whitespace or one of ; & | ( ), followed by whitespace or the end.
bool commandCallsSudo(const QString &command);

// "[Velmora sudo <new upper-case UUID>] password: ", different for every
// launch; none when the command does not call sudo or no password was given.
std::optional<QString> makeSudoPrompt(const QString &command, bool passwordGiven);

// /usr/bin/sudo -S -p '<prompt>' -v 3<&- && exec '<helper>' '<shell>' -lc
// '<command>': sudo validates the password read from its terminal, and only
// then the wrapper makes way for `helper` (SudoHelper: our own program, checked
// by the caller), which reads the command's environment from descriptor 3
// (which sudo never gets) and starts the login shell with it, so the command's
// shell starts with the environment a plain launch gives, whatever names it
// holds. `sudo` is the program named first (tests put a stand-in there).
QString makeSudoWrapperCommand(const QString &shellPath, const QString &command, const QString &prompt,
                               const QString &helper, const QString &sudo = SudoWrapper::sudoPath);

// The launch of a command that calls sudo, given a password: util-linux script
// gives the wrapper a terminal of its own,
//   /usr/bin/script -q -f -e -E never -c "exec /bin/sh -c '<wrapper>'" /dev/null
// Until sudo has validated, script and the wrapper shell run with a fixed
// environment: SHELL=/bin/sh, the system folders as PATH, HOME, USER and
// LOGNAME of the account, and TERM, LANG and LC_* of the application's own.
// Nothing of the user's runs before then: a start-up file, a profile's
// LD_PRELOAD or ENV could otherwise show the prompt or read the reply. The
// environment the command gets, the profile's and the user's as a plain launch
// has it, waits on descriptor 3 as NUL-ended entries, never on a command line. -e passes the command's exit code on,
// and -E never keeps the inner terminal from echoing the password into the output.
struct SudoLaunch {
    ProcessLaunchConfiguration configuration;
    // The command line of the wrapper shell, script's child, until it execs
    // the login shell.
    QString wrapperCommandLine;
};
SudoLaunch makeSudoLaunchConfiguration(const QString &shellPath, const QString &command, const QString &prompt,
                                       const QMap<QString, QString> &environment, const QString &workingDirectory,
                                       const QString &helper, const QString &sudo = SudoWrapper::sudoPath);
