#include "execution/ServiceProcessTermination.h"

#include "platform/Logging.h"
#include "platform/ProcessTermination.h"

#include <csignal>
#include <utility>

namespace {

using std::chrono::milliseconds;

// Waits for the processes to go, and kills what outlives the wait.
QCoro::Task<> endWhatRemains(ProcessTermination termination, milliseconds timeout)
{
    const bool gone = co_await termination.waitUntilGone(timeout);
    if (gone)
        co_return;
    // Recording the stop while processes of the service run on would leave them running untracked.
    qCCritical(lcProcess, "Processes of %d outlived its stop; killing them", int(termination.id()));
    termination.signal(SIGKILL);
    co_await termination.waitUntilGone(ServiceProcessTermination::killWaitTimeout);
}

} // namespace

QCoro::Task<> ServiceProcessTermination::endSession(qint32 sessionLeader, bool forced, ProcFileSystem fileSystem)
{
    // The child leads a session of its own: whatever it started, in whichever
    // group, is in that session unless it left it.
    ProcessTermination session(ProcessTermination::Scope::session, sessionLeader, std::move(fileSystem));
    if (forced) {
        session.signal(SIGTERM);
    } else {
        session.signal(SIGINT);
        // The grace period is a promise to the child, not a delay for the
        // user: the stop goes on as soon as nothing of the session is left.
        if (!co_await session.waitUntilGone(interruptGracePeriod))
            session.signal(SIGTERM);
    }
    co_await endWhatRemains(session, exitWaitTimeout);
}

QCoro::Task<> ServiceProcessTermination::endRecordedProcess(ProcessIdentity process, bool forced,
                                                            ProcFileSystem fileSystem)
{
    ProcessTermination termination =
        ProcessTermination::forRecordedProcess(process.pid, process.startTicks, std::move(fileSystem));
    if (!termination.anyAlive())
        co_return; // gone, or the id now names another process: nothing to signal
    termination.signal(forced ? SIGKILL : SIGTERM);
    co_await endWhatRemains(termination, exitWaitTimeout);
}

QCoro::Task<> ServiceProcessTermination::waitForExit(ProcessIdentity process, milliseconds timeout,
                                                     ProcFileSystem fileSystem)
{
    co_await ProcessTermination::forProcess(process.pid, process.startTicks, std::move(fileSystem))
        .waitUntilGone(timeout);
}
