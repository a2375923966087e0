#pragma once

#include <QMap>
#include <QString>

// What a terminal launch of one service needs.
struct TerminalLaunchRequest {
    QString serviceName;
    QString command;                    // exactly as stored
    QMap<QString, QString> environment; // resolved, secret values in clear
    QString shellPath;                  // the settings' default shell
    QString homePath;                   // the user's home folder
};

// The script's file name inside its folder.
inline constexpr char terminalScriptName[] = "run.command";

// True when the path starts with "/" and holds no line break (U+000A to
// U+000D, U+0085, U+2028, U+2029) and no NUL.
bool isSafeShellPath(const QString &path);

// Where the script folders go: $XDG_RUNTIME_DIR (private to the user and kept
// in memory, so clear-text secrets never reach a disk), else the temporary folder.
QString terminalScriptBaseFolder();

// The one-shot script, lines joined by "\n" with a final "\n":
//   #!<shell>
//   export KEY='value'             one per variable, in key order, values in clear
//   cd '<home>'                    when the home path is not empty
//   /bin/rm -f '<script>'
//   /bin/rmdir '<folder>' 2>/dev/null || true
//   if [ -t 0 ]; then /usr/bin/perl -MPOSIX -e 'tcflush(STDIN, 0)' 2>/dev/null || true; fi
//                                  only when the command calls sudo
//   <command>
// Throws TerminalLaunchError: launchFailed for an unsafe shell path,
// invalidEnvironmentKey for a variable name the shell cannot export.
QString makeTerminalScript(const TerminalLaunchRequest &request, const QString &scriptPath, const QString &folderPath);

// Creates the script file new (never through a symbolic link, never over an
// existing file) with mode 0700 and writes the text. On any failure after the
// file was created it is removed again. Throws std::system_error with the errno.
void writeTerminalScript(const QString &text, const QString &scriptPath);
