#pragma once

#include "execution/ProcessLaunchConfiguration.h"
#include "platform/UniqueFd.h"

#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <sys/types.h>

// How a child ended: its exit code, or the signal that killed it.
struct ProcessExitStatus {
    bool signaled = false;
    int code = 0; // the exit code, or the signal number when signaled

    // The one number the run history records: exit code or signal number.
    qint32 terminationStatus() const { return code; }

    friend bool operator==(const ProcessExitStatus &, const ProcessExitStatus &) = default;
};

// Owns one launched child: its pidfd, its output transport (a pseudo-terminal
// master, or two pipes) and the text it has written so far.
//
// A watcher thread per child polls the transport and the pidfd. It reads at
// most 8192 bytes a read, decodes them with the child's own UTF-8 decoder and
// appends the text to the collected output (the last 150000 characters are
// kept once it passes 200000). New text is handed to the application's main
// thread in batches: at most one hand-over per child is queued at any time,
// and hand-overs follow each other no closer than `handOverInterval`, however
// fast the child writes. When the child exits the watcher reads what is left,
// closes the transport, reaps the child and hands the exit status over last,
// after the final output.
//
// Every handler runs on the main thread (the thread of the QCoreApplication).
// Releasing the last reference to a running child's handle closes the
// transport at once, delivers nothing more and leaves the child to run; the
// watcher still reaps it when it ends.
class RunningProcessHandle {
public:
    // `text` is the output that arrived since the previous hand-over. When the
    // main thread fell so far behind that more than the kept size piled up,
    // `earlierOutputSkipped` is true and `text` is only the newest part: the
    // receiver should then replace, not extend, what it shows.
    using OutputHandler = std::function<void(const QString &text, bool earlierOutputSkipped)>;
    using ExitHandler = std::function<void(ProcessExitStatus status)>;

    static constexpr qsizetype outputCutAbove = 200000;
    static constexpr qsizetype outputKeep = 150000;
    static constexpr qsizetype readSize = 8192;
    static constexpr std::chrono::milliseconds handOverInterval {10};

    ~RunningProcessHandle();
    RunningProcessHandle(const RunningProcessHandle &) = delete;
    RunningProcessHandle &operator=(const RunningProcessHandle &) = delete;

    pid_t processIdentifier() const;
    // The child leads its own session and process group, whose id is its pid.
    pid_t processGroup() const { return processIdentifier(); }
    bool usesPseudoTerminal() const;

    // False once the child has ended (it may not be reaped yet). Asks the
    // pidfd, so neither a zombie nor a reused pid counts as running.
    bool isRunning() const;
    // Present once the child has been reaped.
    std::optional<ProcessExitStatus> exitStatus() const;

    // Sends a signal to the child alone, or to its whole process group (every
    // process it started that stayed in the group). False when the child has
    // already been reaped or the signal could not be sent. Never reaches a
    // process that merely reuses the pid.
    bool signalProcess(int signalNumber) const;
    bool signalProcessGroup(int signalNumber) const;

    // Installs the output handler (replacing an earlier one) and calls it at
    // once, on the caller's thread, with all the output collected so far when
    // there is any; later hand-overs bring only newer text.
    void setOutputHandler(const OutputHandler &handler);
    // Installs the exit handler; called at once when the exit was already handed over.
    void setExitHandler(const ExitHandler &handler);

    // Blocks until the child has exited and its transport has been read to the
    // end and closed, then returns how it ended. For background threads; the
    // main thread uses the exit handler.
    ProcessExitStatus waitUntilExit() const;

    // Everything kept of the child's output: its last 150000 characters once
    // it grew past 200000.
    QString collectedOutput() const;

    // Adds text of the application's own to the output, as if the child had
    // written it.
    void appendNote(const QString &text) const;

    // Writes to the child's terminal while the handle still owns the master;
    // a write interrupted by a signal is retried, any other failure ends the
    // attempt. True when every byte was written.
    bool writeToTerminal(QByteArrayView bytes) const;

private:
    friend std::shared_ptr<RunningProcessHandle> launchProcess(const ProcessLaunchConfiguration &configuration);
    struct Shared;

    // Takes over a child that has just been spawned with its pidfd and the
    // parent's ends of its output transport, and starts its watcher thread.
    static std::shared_ptr<RunningProcessHandle> start(pid_t pid, UniqueFd pidfd, std::vector<UniqueFd> outputs,
                                                       bool pseudoTerminal);
    explicit RunningProcessHandle(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_watcher;
};
