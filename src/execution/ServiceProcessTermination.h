#pragma once

#include "platform/ProcFileSystem.h"
#include "platform/ProcessIdentity.h"

#include <QCoroTask>
#include <QFuture>

#include <chrono>

// The stop sequences of a service's processes: which signal goes when, how
// long each wait lasts, and the kill of what outlives them. The signals
// themselves go through ProcessTermination. Each sequence touches nothing but
// the processes, so its caller may go away while it runs. Main thread.
//
// A stop's run is over when the process it aimed at has gone; what that
// process started may take a little longer, and the sequence ends it on its
// own, so a caller books the run as soon as the leader is gone and waits for
// the rest only where it must (the quit).
class ServiceProcessTermination {
public:
    // A sequence under way: `leaderGone` finishes once the process it aimed
    // at has exited or the sequence is over, `finished` once the sequence is over.
    struct Stopping {
        QFuture<void> leaderGone;
        QFuture<void> finished;
    };

    // How long an interrupted session gets to end before it is terminated.
    static constexpr std::chrono::milliseconds interruptGracePeriod {1500};
    static constexpr std::chrono::milliseconds exitWaitTimeout {5000};
    // How long processes that outlived their stop get to vanish after SIGKILL.
    static constexpr std::chrono::milliseconds killWaitTimeout {1000};

    // Ends every process of the session that `sessionLeader` leads (an own
    // child): a forced stop terminates at once, a plain one interrupts first
    // and terminates what is still alive after the grace period; a session
    // that ends sooner ends the wait at once.
    static Stopping endSession(qint32 sessionLeader, bool forced, ProcFileSystem fileSystem);

    // Ends a process known only by its id and start time, with its session or
    // group when it leads one: a forced stop kills, a plain one terminates.
    // Signals nothing when the id now names another process.
    static Stopping endRecordedProcess(ProcessIdentity process, bool forced, ProcFileSystem fileSystem);

    // Waits, at most `timeout`, for the one process to exit.
    static QCoro::Task<> waitForExit(ProcessIdentity process, std::chrono::milliseconds timeout,
                                     ProcFileSystem fileSystem);
};
