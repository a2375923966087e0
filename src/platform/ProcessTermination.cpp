#include "platform/ProcessTermination.h"

#include "platform/Pidfd.h"
#include "platform/UniqueFd.h"

#include <QCoroFuture>
#include <QFuture>
#include <QHash>
#include <QPromise>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <coroutine>
#include <csignal>
#include <mutex>
#include <vector>

#include <fcntl.h>

#include <poll.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

bool hasExited(int pidfd)
{
    pollfd exitPoll {pidfd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&exitPoll, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

bool isLive(const ProcFileSystem::ProcessStat &stat)
{
    return stat.state != 'Z' && stat.state != 'X';
}

// Who a termination reaches.
struct Target {
    ProcessTermination::Scope scope = ProcessTermination::Scope::process;
    qint32 id = 0;
    // For a process alone: the start time that tells it from a reuser of its id.
    std::optional<quint64> startTicks;

    bool belongs(qint32 pid, const ProcFileSystem::ProcessStat &stat) const
    {
        if (!isLive(stat))
            return false;
        switch (scope) {
        case ProcessTermination::Scope::session:
            return stat.session == id;
        case ProcessTermination::Scope::processGroup:
            return stat.processGroup == id;
        case ProcessTermination::Scope::process:
            return pid == id && (!startTicks || stat.startTicks == *startTicks);
        }
        return false;
    }

    // Pins the process if it is a live member; an invalid descriptor otherwise.
    UniqueFd pin(qint32 pid, const ProcFileSystem &fileSystem) const
    {
        UniqueFd pidfd(Pidfd::open(pid));
        if (!pidfd.isValid())
            return pidfd;
        // While the pidfd's process lives nobody else can hold its id, so a
        // stat read before it is seen alive is that process's own.
        const auto stat = fileSystem.readProcessStat(pid);
        if (!stat || !belongs(pid, *stat) || hasExited(pidfd.get()))
            return UniqueFd();
        return pidfd;
    }
};

struct Member {
    qint32 pid = 0;
    UniqueFd pidfd;
};
// What one sweep found. Shared so that a future can carry it; the
// descriptors close with the last owner.
struct Found {
    std::vector<Member> members;
    // No member known when the sweep was asked for was left when its pass
    // began: with nothing found, the pass saw all there was to end.
    bool afterAllGone = false;
};
using FoundMembers = std::shared_ptr<Found>;

// The thread that sweeps /proc for members. A request carries all it needs
// and its answer carries what it found, so nothing is shared with the main
// thread but the queue. Requests queued while a pass runs share the next one.
//
// A pass lists the process folders and reads the stat file only of those it
// has not seen before: a process never joins another session, so the
// session it was seen in tells whether it can be a member. A process that
// left a member's session since is let go when it is pinned, which reads its
// stat afresh. Process groups do change, so a group is swept by reading every
// stat file.
class Sweeper {
public:
    struct Request {
        Target target;
        ProcFileSystem fileSystem;
        // Members the main thread holds already.
        std::vector<qint32> pinned;
        // Sent to each member found, as it is found.
        std::optional<int> signal;
    };

    static Sweeper &shared()
    {
        static Sweeper sweeper;
        return sweeper;
    }

    QFuture<FoundMembers> sweep(Request request)
    {
        auto promise = std::make_shared<QPromise<FoundMembers>>();
        QFuture<FoundMembers> future = promise->future();
        promise->start();
        const std::lock_guard lock(m_mutex);
        m_queue.push_back({std::move(request), std::move(promise)});
        if (!m_draining) {
            m_draining = true;
            m_thread.start([this] { drain(); });
        }
        return future;
    }

private:
    struct Queued {
        Request request;
        std::shared_ptr<QPromise<FoundMembers>> promise;
    };

    struct Seen {
        quint64 inode = 0;
        qint32 session = 0;
    };

    Sweeper()
    {
        m_thread.setMaxThreadCount(1);
        m_thread.setExpiryTimeout(-1);
    }
    ~Sweeper() { m_thread.waitForDone(); }

    void drain()
    {
        for (;;) {
            std::vector<Queued> batch;
            {
                const std::lock_guard lock(m_mutex);
                batch.swap(m_queue);
                if (batch.empty()) {
                    m_draining = false;
                    return;
                }
            }
            // Looked at before the pass: what ends during it may have started others.
            std::vector<bool> afterAllGone;
            afterAllGone.reserve(batch.size());
            for (const Queued &queued : batch)
                afterAllGone.push_back(allGone(queued.request.pinned));
            bool sessionsRead = false;
            std::optional<QList<ProcFileSystem::ProcessStatEntry>> stats;
            for (std::size_t index = 0; index < batch.size(); ++index) {
                const Request &request = batch[index].request;
                std::vector<qint32> candidates;
                if (request.target.scope == ProcessTermination::Scope::session) {
                    if (!sessionsRead || request.fileSystem.procRoot != m_seenRoot)
                        readSessions(request.fileSystem);
                    sessionsRead = true;
                    for (auto seen = m_seen.cbegin(); seen != m_seen.cend(); ++seen) {
                        if (seen->session == request.target.id)
                            candidates.push_back(seen.key());
                    }
                } else {
                    if (!stats || stats->isEmpty() || request.fileSystem.procRoot != m_statsRoot) {
                        stats = request.fileSystem.readAllProcessStats();
                        m_statsRoot = request.fileSystem.procRoot;
                    }
                    for (const auto &entry : std::as_const(*stats)) {
                        if (request.target.belongs(entry.pid, entry.stat))
                            candidates.push_back(entry.pid);
                    }
                }
                FoundMembers found = members(request, candidates);
                found->afterAllGone = afterAllGone[index];
                batch[index].promise->addResult(std::move(found));
                batch[index].promise->finish();
            }
        }
    }

    // Brings the sessions seen up to date with the folders there are now.
    void readSessions(const ProcFileSystem &fileSystem)
    {
        if (fileSystem.procRoot != m_seenRoot) {
            m_seen.clear();
            m_seenRoot = fileSystem.procRoot;
        }
        const QList<ProcFileSystem::ProcessFolder> folders = fileSystem.listProcessFolders();
        QHash<qint32, Seen> current;
        current.reserve(folders.size());
        for (const ProcFileSystem::ProcessFolder &folder : folders) {
            const auto seen = m_seen.constFind(folder.pid);
            if (seen != m_seen.cend() && seen->inode == folder.inode)
                current.insert(folder.pid, *seen);
            else if (const auto stat = fileSystem.readProcessStat(folder.pid))
                current.insert(folder.pid, {folder.inode, stat->session});
        }
        m_seen = std::move(current);
    }

    // A zombie or a reuser of an id counts as alive: at worst one more sweep.
    static bool allGone(const std::vector<qint32> &pids)
    {
        return std::all_of(pids.cbegin(), pids.cend(),
                           [](qint32 pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; });
    }

    static FoundMembers members(const Request &request, const std::vector<qint32> &candidates)
    {
        auto found = std::make_shared<Found>();
        for (const qint32 pid : candidates) {
            if (std::find(request.pinned.cbegin(), request.pinned.cend(), pid) != request.pinned.cend())
                continue;
            UniqueFd pidfd = request.target.pin(pid, request.fileSystem);
            if (!pidfd.isValid())
                continue;
            if (request.signal)
                Pidfd::sendSignal(pidfd.get(), *request.signal);
            found->members.push_back({pid, std::move(pidfd)});
        }
        return found;
    }

    QThreadPool m_thread;
    std::mutex m_mutex;
    std::vector<Queued> m_queue;
    bool m_draining = false;
    // The sweeping thread's own: never touched by any other.
    QString m_seenRoot;
    QHash<qint32, Seen> m_seen;
    QString m_statsRoot;
};

// Resumes the awaiting coroutine once every pidfd has turned readable (its
// process exited) or the time is up, whichever comes first. The resumption
// is posted, so the notifiers are never destroyed inside their own signal.
class PidfdsExited {
public:
    PidfdsExited(std::vector<int> pidfds, std::chrono::milliseconds timeout)
        : m_pidfds(std::move(pidfds)),
          m_timeout(timeout)
    {}

    bool await_ready() const noexcept { return m_pidfds.empty() || m_timeout.count() <= 0; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        m_watch = std::make_shared<Watch>();
        m_watch->waiter = waiter;
        Watch *watch = m_watch.get();
        for (const int pidfd : m_pidfds) {
            auto notifier = std::make_unique<QSocketNotifier>(pidfd, QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                             [watch, raw = notifier.get()] {
                                 raw->setEnabled(false);
                                 if (--watch->waiting == 0)
                                     watch->finish();
                             });
            watch->notifiers.push_back(std::move(notifier));
            ++watch->waiting;
        }
        watch->timer.setSingleShot(true);
        watch->timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&watch->timer, &QTimer::timeout, &watch->timer, [watch] { watch->finish(); });
        watch->timer.start(m_timeout);
    }

    void await_resume() const noexcept {}

private:
    struct Watch {
        std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
        QTimer timer;
        std::coroutine_handle<> waiter;
        int waiting = 0;
        bool finished = false;

        void finish()
        {
            if (finished)
                return;
            finished = true;
            timer.stop();
            for (const auto &notifier : notifiers)
                notifier->setEnabled(false);
            QTimer::singleShot(0, Qt::PreciseTimer, [resume = waiter] { resume.resume(); });
        }
    };

    std::vector<int> m_pidfds;
    std::chrono::milliseconds m_timeout;
    // Made when the wait begins; goes with the awaiter once the coroutine went on.
    std::shared_ptr<Watch> m_watch;
};

} // namespace

struct ProcessTermination::State {
    struct Sweep {
        QFuture<FoundMembers> members;
        // What the sweep sent to the members it found.
        std::optional<int> signal;
    };

    Target target;
    bool reachesNothing = false;
    ProcFileSystem fileSystem;
    std::vector<Member> members;
    std::optional<int> lastSignal;
    // Sweeps whose members have not been taken over yet, oldest first.
    std::vector<Sweep> sweeps;
    // Whether the last sweep taken over found nothing and began after every
    // member it knew of had gone.
    bool settled = false;

    void pinLeader()
    {
        members.clear();
        if (reachesNothing)
            return;
        if (UniqueFd pidfd = target.pin(target.id, fileSystem); pidfd.isValid())
            members.push_back({target.id, std::move(pidfd)});
    }

    // A process alone has nobody else to find.
    bool findsOthers() const { return !reachesNothing && target.scope != Scope::process; }

    void requestSweep()
    {
        if (!findsOthers())
            return;
        std::vector<qint32> pinned;
        for (const Member &member : members) {
            if (!hasExited(member.pidfd.get()))
                pinned.push_back(member.pid);
        }
        sweeps.push_back({Sweeper::shared().sweep({target, fileSystem, std::move(pinned), lastSignal}), lastSignal});
    }

    // Takes over the members of the sweeps that have finished. A member found
    // before a later signal was sent gets that signal now.
    void takeFinishedSweeps()
    {
        for (auto sweep = sweeps.begin(); sweep != sweeps.end();) {
            if (!sweep->members.isFinished()) {
                ++sweep;
                continue;
            }
            const FoundMembers result = sweep->members.result();
            settled = result->afterAllGone && result->members.empty();
            for (Member &found : result->members) {
                if (hasExited(found.pidfd.get()) || pinned(found.pid))
                    continue;
                if (lastSignal && lastSignal != sweep->signal)
                    Pidfd::sendSignal(found.pidfd.get(), *lastSignal);
                std::erase_if(members, [&](const Member &member) { return member.pid == found.pid; });
                members.push_back(std::move(found));
            }
            sweep = sweeps.erase(sweep);
        }
    }

    bool pinned(qint32 pid) const
    {
        return std::any_of(members.cbegin(), members.cend(),
                           [&](const Member &member) { return member.pid == pid && !hasExited(member.pidfd.get()); });
    }

    std::vector<int> livePidfds() const
    {
        std::vector<int> pidfds;
        for (const Member &member : members) {
            if (!hasExited(member.pidfd.get()))
                pidfds.push_back(member.pidfd.get());
        }
        return pidfds;
    }
};

ProcessTermination::ProcessTermination(Scope scope, qint32 id, ProcFileSystem fileSystem)
    : m_state(std::make_shared<State>())
{
    m_state->target = {scope, id, std::nullopt};
    m_state->reachesNothing = id < 1;
    m_state->fileSystem = std::move(fileSystem);
    m_state->pinLeader();
}

ProcessTermination ProcessTermination::forRecordedProcess(qint32 pid, std::optional<quint64> startTicks,
                                                          ProcFileSystem fileSystem)
{
    const auto stat = pid > 0 ? fileSystem.readProcessStat(pid) : std::nullopt;
    // Without a recorded start time the process cannot be told from a reuser of its id.
    const bool same = stat && startTicks && stat->startTicks == *startTicks && isLive(*stat);
    Scope scope = Scope::process;
    if (same && stat->session == pid)
        scope = Scope::session;
    else if (same && stat->processGroup == pid)
        scope = Scope::processGroup;
    ProcessTermination termination(scope, pid, std::move(fileSystem));
    termination.m_state->target.startTicks = startTicks;
    termination.m_state->reachesNothing = !same;
    termination.m_state->pinLeader();
    return termination;
}

ProcessTermination ProcessTermination::forProcess(qint32 pid, std::optional<quint64> startTicks,
                                                  ProcFileSystem fileSystem)
{
    ProcessTermination termination(Scope::process, pid, std::move(fileSystem));
    termination.m_state->target.startTicks = startTicks;
    termination.m_state->reachesNothing = pid < 1 || !startTicks;
    termination.m_state->pinLeader();
    return termination;
}

ProcessTermination::Scope ProcessTermination::scope() const
{
    return m_state->target.scope;
}

qint32 ProcessTermination::id() const
{
    return m_state->target.id;
}

void ProcessTermination::signal(int signalNumber)
{
    m_state->takeFinishedSweeps();
    m_state->lastSignal = signalNumber;
    for (const Member &member : m_state->members)
        Pidfd::sendSignal(member.pidfd.get(), signalNumber);
    m_state->requestSweep();
}

bool ProcessTermination::anyAlive() const
{
    return !m_state->livePidfds().empty();
}

UniqueFd ProcessTermination::leaderExitDescriptor() const
{
    for (const Member &member : m_state->members) {
        if (member.pid == m_state->target.id)
            return UniqueFd(::fcntl(member.pidfd.get(), F_DUPFD_CLOEXEC, 0));
    }
    return UniqueFd();
}

QCoro::Task<bool> ProcessTermination::waitUntilGone(std::chrono::milliseconds timeout)
{
    const std::shared_ptr<State> state = m_state;
    const auto deadline = SteadyClock::now() + timeout;
    // Whether a sweep was asked for after the last member found had gone.
    bool sweptSinceAllGone = false;
    for (;;) {
        while (!state->sweeps.empty()) {
            const QFuture<FoundMembers> sweep = state->sweeps.front().members;
            co_await sweep;
            state->takeFinishedSweeps();
        }
        std::vector<int> pidfds = state->livePidfds();
        if (pidfds.empty() && (sweptSinceAllGone || state->settled || !state->findsOthers()))
            co_return true;
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (remaining.count() <= 0)
            co_return false;
        if (pidfds.empty()) {
            state->requestSweep();
            sweptSinceAllGone = true;
            continue;
        }
        sweptSinceAllGone = false;
        co_await PidfdsExited(std::move(pidfds), remaining);
    }
}

bool signalProcessGroupById(qint32 processGroup, int signalNumber)
{
    return processGroup > 0 && ::kill(-processGroup, signalNumber) == 0;
}
