#include "execution/ServiceProcessTermination.h"

#include "platform/Logging.h"
#include "platform/ProcessTermination.h"

#include <QPromise>
#include <QSocketNotifier>

#include <csignal>
#include <memory>
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

// Reports the two ends of a sequence: the leader's exit, seen on a descriptor
// of its own, and the sequence's end, which counts as the leader's too.
class Progress {
public:
    explicit Progress(const ProcessTermination &termination)
        : m_leaderExit(termination.leaderExitDescriptor())
    {
        m_leaderGone.start();
        m_finished.start();
        if (!m_leaderExit.isValid()) {
            reportLeaderGone();
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(m_leaderExit.get(), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] {
            m_notifier->setEnabled(false);
            reportLeaderGone();
        });
    }
    ~Progress() { finish(); }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    ServiceProcessTermination::Stopping stopping() { return {m_leaderGone.future(), m_finished.future()}; }

    void finish()
    {
        reportLeaderGone();
        if (m_finishedReported)
            return;
        m_finishedReported = true;
        if (m_notifier)
            m_notifier->setEnabled(false);
        m_finished.finish();
    }

private:
    void reportLeaderGone()
    {
        if (m_leaderGoneReported)
            return;
        m_leaderGoneReported = true;
        m_leaderGone.finish();
    }

    UniqueFd m_leaderExit;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QPromise<void> m_leaderGone;
    QPromise<void> m_finished;
    bool m_leaderGoneReported = false;
    bool m_finishedReported = false;
};

QCoro::Task<> endSessionInSteps(ProcessTermination session, bool forced, std::unique_ptr<Progress> progress)
{
    if (forced) {
        session.signal(SIGTERM);
    } else {
        session.signal(SIGINT);
        // The grace period is a promise to the child, not a delay for the
        // user: the stop goes on as soon as nothing of the session is left.
        // Awaited into a name: GCC 12 resumes a detached coroutine from a
        // garbage frame when the co_await sits in the condition.
        const bool ended = co_await session.waitUntilGone(ServiceProcessTermination::interruptGracePeriod);
        if (!ended)
            session.signal(SIGTERM);
    }
    co_await endWhatRemains(session, ServiceProcessTermination::exitWaitTimeout);
    progress->finish();
}

QCoro::Task<> endWithSignal(ProcessTermination termination, int signalNumber, std::unique_ptr<Progress> progress)
{
    termination.signal(signalNumber);
    co_await endWhatRemains(termination, ServiceProcessTermination::exitWaitTimeout);
    progress->finish();
}

} // namespace

ServiceProcessTermination::Stopping ServiceProcessTermination::endSession(qint32 sessionLeader, bool forced,
                                                                          ProcFileSystem fileSystem)
{
    // The child leads a session of its own: whatever it started, in whichever
    // group, is in that session unless it left it.
    ProcessTermination session(ProcessTermination::Scope::session, sessionLeader, std::move(fileSystem));
    auto progress = std::make_unique<Progress>(session);
    Stopping stopping = progress->stopping();
    // Runs on by itself; the futures report how far it got.
    (void)endSessionInSteps(std::move(session), forced, std::move(progress));
    return stopping;
}

ServiceProcessTermination::Stopping ServiceProcessTermination::endRecordedProcess(ProcessIdentity process, bool forced,
                                                                                  ProcFileSystem fileSystem)
{
    ProcessTermination termination =
        ProcessTermination::forRecordedProcess(process.pid, process.startTicks, std::move(fileSystem));
    auto progress = std::make_unique<Progress>(termination);
    Stopping stopping = progress->stopping();
    if (!termination.anyAlive())
        return stopping; // gone, or the id now names another process: nothing to signal
    (void)endWithSignal(std::move(termination), forced ? SIGKILL : SIGTERM, std::move(progress));
    return stopping;
}

QCoro::Task<> ServiceProcessTermination::waitForExit(ProcessIdentity process, milliseconds timeout,
                                                     ProcFileSystem fileSystem)
{
    co_await ProcessTermination::forProcess(process.pid, process.startTicks, std::move(fileSystem))
        .waitUntilGone(timeout);
}
