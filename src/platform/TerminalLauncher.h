#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One way of starting a terminal emulator: the program and the arguments that
// come before the path of the script it should run.
struct TerminalEmulatorCommand {
    QString program;
    QStringList arguments;

    friend bool operator==(const TerminalEmulatorCommand &, const TerminalEmulatorCommand &) = default;
};

// Opens a script in a window of the desktop's terminal emulator.
class TerminalLauncher {
public:
    virtual ~TerminalLauncher() = default;

    // Starts the first emulator that can be started, detached, running `scriptPath`.
    // True as soon as an emulator process has started; false when none could be.
    // Never waits for the emulator, which may run until its window closes.
    virtual bool launch(const QString &scriptPath);

    // The emulators to try, in order: the program named by $TERMINAL (with -e),
    // x-terminal-emulator -e, then gnome-terminal --, konsole -e,
    // xfce4-terminal -x and xterm -e; only those found as executables, a bare
    // name being looked up in `searchPath` (when empty, in $PATH).
    static QList<TerminalEmulatorCommand> candidates(const QString &terminalVariable, const QStringList &searchPath);
};
