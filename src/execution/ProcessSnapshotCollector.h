#pragma once

#include "execution/ProcessSnapshot.h"
#include "platform/ProcFileSystem.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <chrono>
#include <mutex>

// Reads the watched processes from /proc, with one listing of every process
// per collection. The session of each process is remembered, so only new
// processes and those of watched sessions are read again each time (wanted
// paths need every process read). Keeps each process's CPU time from the
// previous collection so the CPU share is a recent one. Called from a
// background thread; calls are serialised.
class ProcessSnapshotCollector {
public:
    // A first sighting younger than this shows 0 % rather than a share of a
    // handful of clock ticks.
    static constexpr double firstSightingMinimumAgeSeconds = 0.5;
    // Every this many collections every process is read again, in case an id
    // was taken over by a new process between two collections.
    static constexpr quint64 sessionRefreshInterval = 60;

    explicit ProcessSnapshotCollector(ProcFileSystem fileSystem = ProcFileSystem::system());

    // Snapshots of the processes whose id is wanted, of every process in the
    // session of a wanted process that leads one (what a service started),
    // and of those whose executable path equals a wanted path, lies below one,
    // or whose command contains one; ascending by pid. A process that ends
    // while it is read is left out.
    QList<ProcessSnapshot> collect(const QSet<QString> &wantedPaths, const QSet<qint32> &wantedPIDs);

private:
    using Clock = std::chrono::steady_clock;

    struct CpuReading {
        quint64 startTicks = 0; // tells a reused pid from the process seen before
        quint64 cpuTicks = 0;
        Clock::time_point takenAt;
    };

    std::optional<QDateTime> startTimeOf(quint64 startTicks);
    // The stat of the processes a collection may need, ascending by pid: the
    // wanted ones, the members of the sessions they lead, and every process
    // not seen before (or all of them, for `everyProcess`).
    QList<ProcFileSystem::ProcessStatEntry> readProcesses(const QSet<qint32> &wantedPIDs, bool everyProcess);
    // CPU used since the process started over its age, ×100.
    double shareSinceStart(const ProcFileSystem::ProcessStat &stat, std::optional<double> &uptime,
                           bool &uptimeRead) const;

    std::mutex m_mutex;
    const ProcFileSystem m_fileSystem;
    QHash<qint32, CpuReading> m_previous;
    QHash<qint32, qint32> m_sessions; // the session of every process seen, by pid
    quint64 m_collections = 0;
    std::optional<qint64> m_bootTime;
    bool m_bootTimeFailureLogged = false;
};
