#include "platform/ProcessTermination.h"

#include "platform/Pidfd.h"
#include "platform/UniqueFd.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <coroutine>
#include <csignal>
#include <vector>

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
    struct Member {
        qint32 pid = 0;
        UniqueFd pidfd;
    };

    Scope scope = Scope::process;
    qint32 id = 0;
    // For a process alone: the start time that tells it from a reuser of its id.
    std::optional<quint64> startTicks;
    bool reachesNothing = false;
    ProcFileSystem fileSystem;
    std::vector<Member> members;
    std::optional<int> lastSignal;

    bool belongs(qint32 pid, const ProcFileSystem::ProcessStat &stat) const
    {
        if (!isLive(stat))
            return false;
        switch (scope) {
        case Scope::session:
            return stat.session == id;
        case Scope::processGroup:
            return stat.processGroup == id;
        case Scope::process:
            return pid == id && (!startTicks || stat.startTicks == *startTicks);
        }
        return false;
    }

    bool pinned(qint32 pid) const
    {
        return std::any_of(members.cbegin(), members.cend(),
                           [&](const Member &member) { return member.pid == pid && !hasExited(member.pidfd.get()); });
    }

    // Finds the members not pinned yet, pins them and sends them the last
    // signal, if any was sent.
    void pinNewMembers()
    {
        if (reachesNothing)
            return;
        QList<qint32> candidates;
        if (scope == Scope::process) {
            if (const auto stat = fileSystem.readProcessStat(id); stat && belongs(id, *stat))
                candidates.append(id);
        } else {
            for (const auto &entry : fileSystem.readAllProcessStats()) {
                if (belongs(entry.pid, entry.stat))
                    candidates.append(entry.pid);
            }
        }
        for (const qint32 pid : std::as_const(candidates)) {
            if (pinned(pid))
                continue;
            UniqueFd pidfd(Pidfd::open(pid));
            if (!pidfd.isValid())
                continue;
            // While the pidfd's process lives nobody else can hold its id, so a
            // stat read before it is seen alive is that process's own.
            const auto stat = fileSystem.readProcessStat(pid);
            if (!stat || !belongs(pid, *stat) || hasExited(pidfd.get()))
                continue;
            if (lastSignal)
                Pidfd::sendSignal(pidfd.get(), *lastSignal);
            std::erase_if(members, [&](const Member &member) { return member.pid == pid; });
            members.push_back({pid, std::move(pidfd)});
        }
        std::erase_if(members, [](const Member &member) { return hasExited(member.pidfd.get()); });
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
    m_state->scope = scope;
    m_state->id = id;
    m_state->reachesNothing = id < 1;
    m_state->fileSystem = std::move(fileSystem);
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
    termination.m_state->startTicks = startTicks;
    termination.m_state->reachesNothing = !same;
    return termination;
}

ProcessTermination ProcessTermination::forProcess(qint32 pid, std::optional<quint64> startTicks,
                                                  ProcFileSystem fileSystem)
{
    ProcessTermination termination(Scope::process, pid, std::move(fileSystem));
    termination.m_state->startTicks = startTicks;
    termination.m_state->reachesNothing = pid < 1 || !startTicks;
    return termination;
}

ProcessTermination::Scope ProcessTermination::scope() const
{
    return m_state->scope;
}

qint32 ProcessTermination::id() const
{
    return m_state->id;
}

void ProcessTermination::signal(int signalNumber)
{
    m_state->lastSignal.reset();
    m_state->pinNewMembers();
    m_state->lastSignal = signalNumber;
    for (const State::Member &member : m_state->members)
        Pidfd::sendSignal(member.pidfd.get(), signalNumber);
}

bool ProcessTermination::anyAlive()
{
    m_state->pinNewMembers();
    return !m_state->livePidfds().empty();
}

QCoro::Task<bool> ProcessTermination::waitUntilGone(std::chrono::milliseconds timeout)
{
    const std::shared_ptr<State> state = m_state;
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        state->pinNewMembers();
        std::vector<int> pidfds = state->livePidfds();
        if (pidfds.empty())
            co_return true;
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (remaining.count() <= 0)
            co_return false;
        co_await PidfdsExited(std::move(pidfds), remaining);
    }
}

bool signalProcessGroupById(qint32 processGroup, int signalNumber)
{
    return processGroup > 0 && ::kill(-processGroup, signalNumber) == 0;
}
