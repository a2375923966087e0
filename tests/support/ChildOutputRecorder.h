#pragma once

#include "execution/RunningProcessHandle.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Installs output and exit handlers on a handle and records what reaches the
// main thread, in order.
class ChildOutputRecorder {
public:
    explicit ChildOutputRecorder(const std::shared_ptr<RunningProcessHandle> &handle);

    // Runs the event loop until the exit status arrived; false on timeout.
    bool waitForExit(int timeoutMs = 20000) const;
    bool waitForOutput(const QString &fragment, int timeoutMs = 10000) const;

    QString text() const { return m_state->text; }
    int handOvers() const { return m_state->handOvers; }
    bool sawSkippedOutput() const { return m_state->skipped; }
    bool outputAfterExit() const { return m_state->outputAfterExit; }
    std::optional<ProcessExitStatus> exitStatus() const { return m_state->exit; }

private:
    struct State {
        QString text;
        int handOvers = 0;
        bool skipped = false;
        bool outputAfterExit = false;
        std::optional<ProcessExitStatus> exit;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

namespace ChildProcessProbe {

// The descriptors a process holds, as "number -> target".
QStringList openDescriptors(pid_t pid);
// Fields of /proc/<pid>/stat after the command name (field 3 onwards), or empty.
QStringList statFields(pid_t pid);
// The value of one line of /proc/<pid>/status, such as "SigBlk".
QString statusValue(pid_t pid, const QString &name);
// Whether a process with this id exists and is not a zombie.
bool isAlive(pid_t pid);

// Writes an executable script.
void writeExecutable(const QString &path, const QByteArray &text);

} // namespace ChildProcessProbe
