#pragma once

#include "platform/ProcFileSystem.h"

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

// Ends the processes of one service: every process of a session, of a process
// group, or one process alone. Each member is pinned with a pidfd and its
// membership checked through it before anything is sent, so a signal never
// reaches a process that merely took over the id of a member that ended.
// Members are found by scanning /proc again whenever it matters, so processes
// started after the first signal are reached too.
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

    // Sends the signal to every member still alive, those found by a fresh
    // scan included. Members found later get it when they are found.
    void signal(int signalNumber);

    // Whether any member is still alive (a fresh scan); zombies do not count.
    bool anyAlive();

    // Waits until every member has exited and a fresh scan finds no other, or
    // until the timeout. True when nothing is left.
    QCoro::Task<bool> waitUntilGone(std::chrono::milliseconds timeout);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Sends a signal to a process group by its id. For the last resorts that have
// no pidfd at hand (a child whose set-up failed before it could be watched);
// false when no member could be signalled.
bool signalProcessGroupById(qint32 processGroup, int signalNumber);
