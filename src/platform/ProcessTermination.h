#pragma once

#include "platform/ProcFileSystem.h"
#include "platform/UniqueFd.h"

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

// Ends the processes of one service: every process of a session, of a process
// group, or one process alone. Each member is pinned with a pidfd and its
// membership checked through it before anything is sent, so a signal never
// reaches a process that merely took over the id of a member that ended.
//
// The process the id names (the leader) is pinned when the termination is
// made, and a signal reaches it at once. The other members of a session or
// group are found by a sweep over /proc, which runs on a thread of its own:
// one after each signal, and one each time every member found so far has
// gone, so processes started late are reached too. A sweep pins and signals
// what it finds on that thread; the main thread only takes its members over.
// Sweeps asked for while one runs share the next pass over /proc.
//
// Copies share their state; a wait keeps it alive for as long as it runs.
// Main thread: the waits need its event loop.
class ProcessTermination {
public:
    enum class Scope { session, processGroup, process };

    ProcessTermination(Scope scope, qint32 id, ProcFileSystem fileSystem = ProcFileSystem::system());

    // A process known by its id and start time alone: with its session when it
    // leads one, else with its group when it leads one, else by itself. Reaches
    // nothing when the id now names another process, or no process at all.
    static ProcessTermination forRecordedProcess(qint32 pid, std::optional<quint64> startTicks,
                                                 ProcFileSystem fileSystem = ProcFileSystem::system());

    // One process pinned to its start time, without what it started.
    static ProcessTermination forProcess(qint32 pid, std::optional<quint64> startTicks,
                                         ProcFileSystem fileSystem = ProcFileSystem::system());

    Scope scope() const;
    qint32 id() const;

    // Sends the signal to every member pinned so far, then asks for a sweep
    // that sends it to the members not found yet. Members found later get the
    // last signal sent when they are found.
    void signal(int signalNumber);

    // Whether a member pinned so far is still alive; zombies do not count.
    // Reads nothing of /proc.
    bool anyAlive() const;

    // A descriptor of its own that turns readable once the leader has exited;
    // invalid when the leader was not found.
    UniqueFd leaderExitDescriptor() const;

    // Waits until every member has exited and a sweep made after that finds no
    // other, or until the timeout. True when nothing is left.
    QCoro::Task<bool> waitUntilGone(std::chrono::milliseconds timeout);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Sends a signal to a process group by its id. For the last resorts that have
// no pidfd at hand (a child whose set-up failed before it could be watched);
// false when no member could be signalled.
bool signalProcessGroupById(qint32 processGroup, int signalNumber);
