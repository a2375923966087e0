#include "execution/ProcessSnapshotCollector.h"

#include "platform/Logging.h"

#include <QDir>

#include <algorithm>

ProcessSnapshotCollector::ProcessSnapshotCollector(ProcFileSystem fileSystem)
    : m_fileSystem(std::move(fileSystem))
{}

QList<ProcessSnapshot> ProcessSnapshotCollector::collect(const QSet<QString> &wantedPaths,
                                                         const QSet<qint32> &wantedPIDs)
{
    const std::lock_guard guard(m_mutex);
    QList<ProcessSnapshot> snapshots;
    QHash<qint32, CpuReading> readings;

    // An empty wanted path would be a prefix and a substring of everything.
    QSet<QString> paths;
    QStringList folders;
    for (const QString &wanted : wantedPaths) {
        if (wanted.isEmpty())
            continue;
        const QString cleaned = QDir::cleanPath(wanted);
        paths.insert(cleaned);
        folders.append(cleaned + QLatin1Char('/'));
    }

    if (paths.isEmpty() && wantedPIDs.isEmpty()) {
        m_previous.clear();
        m_sessions.clear();
        return snapshots;
    }

    const QList<ProcFileSystem::ProcessStatEntry> processes = readProcesses(wantedPIDs, !paths.isEmpty());
    const Clock::time_point readAt = Clock::now();
    QSet<qint32> sessions;
    for (const auto &process : processes) {
        if (process.stat.session == process.pid && wantedPIDs.contains(process.pid))
            sessions.insert(process.pid);
    }
    const double ticksPerSecond = static_cast<double>(std::max<qint64>(m_fileSystem.clockTicksPerSecond, 1));
    const quint64 pageSize = static_cast<quint64>(std::max<qint64>(m_fileSystem.pageSize, 1));
    std::optional<double> uptime;
    bool uptimeRead = false;

    for (const auto &[pid, stat] : processes) {
        if (pid <= 0)
            continue;

        std::optional<QString> command;
        const auto commandText = [&, pid = pid, &stat = stat]() -> const QString & {
            if (!command) {
                const auto line = m_fileSystem.readCommandLine(pid);
                command = line && !line->isEmpty() ? line->simplified() : QString::fromUtf8(stat.name);
            }
            return *command;
        };

        const bool member = !wantedPIDs.contains(pid) && stat.session > 0 && sessions.contains(stat.session);
        bool wanted = member || wantedPIDs.contains(pid);
        std::optional<QString> path;
        if (!wanted && !paths.isEmpty()) {
            const auto executable = m_fileSystem.readExecutablePath(pid);
            path = QDir::cleanPath(executable ? *executable : commandText());
            wanted = paths.contains(*path)
                     || std::any_of(folders.cbegin(), folders.cend(),
                                    [&](const QString &folder) { return path->startsWith(folder); })
                     || std::any_of(paths.cbegin(), paths.cend(),
                                    [&](const QString &wantedPath) { return commandText().contains(wantedPath); });
        }
        if (!wanted)
            continue;
        if (!path) {
            const auto executable = m_fileSystem.readExecutablePath(pid);
            path = QDir::cleanPath(executable ? *executable : commandText());
        }

        ProcessSnapshot snapshot;
        snapshot.pid = pid;
        snapshot.executablePath = *path;
        snapshot.session = stat.session;
        // statm holds the same counter as stat's resident size; the members of
        // a session, read every second in numbers, make do with stat's.
        const auto resident = member ? std::nullopt : m_fileSystem.readResidentPages(pid);
        snapshot.memoryBytes = (resident && *resident != 0 ? *resident : stat.residentPages) * pageSize;

        const CpuReading reading {stat.startTicks, stat.cpuTicks, readAt};
        if (const auto previous = m_previous.constFind(pid);
            previous != m_previous.cend() && previous->startTicks == stat.startTicks) {
            if (readAt > previous->takenAt && stat.cpuTicks >= previous->cpuTicks) {
                const double cpuSeconds = static_cast<double>(stat.cpuTicks - previous->cpuTicks) / ticksPerSecond;
                const double wallSeconds = std::chrono::duration<double>(readAt - previous->takenAt).count();
                snapshot.cpuPercent = cpuSeconds / wallSeconds * 100.0;
            }
        } else {
            snapshot.cpuPercent = shareSinceStart(stat, uptime, uptimeRead);
        }
        readings.insert(pid, reading);
        snapshot.startTime = startTimeOf(stat.startTicks);
        snapshots.append(std::move(snapshot));
    }

    // Only processes still watched are remembered, so the table never grows.
    m_previous = std::move(readings);
    return snapshots;
}

QList<ProcFileSystem::ProcessStatEntry> ProcessSnapshotCollector::readProcesses(const QSet<qint32> &wantedPIDs,
                                                                                bool everyProcess)
{
    const QList<qint32> pids = m_fileSystem.listProcessIds();
    if (++m_collections % sessionRefreshInterval == 0)
        m_sessions.clear();
    QHash<qint32, qint32> sessionsNow;
    sessionsNow.reserve(pids.size());
    QList<ProcFileSystem::ProcessStatEntry> read;
    const auto readStat = [&](qint32 pid) {
        if (auto stat = m_fileSystem.readProcessStat(pid)) {
            sessionsNow.insert(pid, stat->session);
            read.append({pid, std::move(*stat)});
        }
    };

    // A process's session never changes but by setsid(), which makes the
    // process lead a session of its own; so a process seen outside the
    // sessions watched now can join one only by being wanted itself, and its
    // stat need not be read again.
    QList<qint32> deferred;
    for (const qint32 pid : pids) {
        const auto known = m_sessions.constFind(pid);
        if (everyProcess || wantedPIDs.contains(pid) || known == m_sessions.cend())
            readStat(pid);
        else
            deferred.append(pid);
    }
    QSet<qint32> sessions;
    for (const auto &process : std::as_const(read)) {
        if (process.stat.session == process.pid && wantedPIDs.contains(process.pid))
            sessions.insert(process.pid);
    }
    for (const qint32 pid : std::as_const(deferred)) {
        const qint32 session = m_sessions.value(pid);
        if (sessions.contains(session))
            readStat(pid);
        else
            sessionsNow.insert(pid, session);
    }
    m_sessions = std::move(sessionsNow);
    std::sort(read.begin(), read.end(), [](const auto &a, const auto &b) { return a.pid < b.pid; });
    return read;
}

double ProcessSnapshotCollector::shareSinceStart(const ProcFileSystem::ProcessStat &stat, std::optional<double> &uptime,
                                                 bool &uptimeRead) const
{
    if (!uptimeRead) {
        uptime = m_fileSystem.readUptime();
        uptimeRead = true;
    }
    if (!uptime)
        return 0;
    const double ticksPerSecond = static_cast<double>(std::max<qint64>(m_fileSystem.clockTicksPerSecond, 1));
    const double age = *uptime - static_cast<double>(stat.startTicks) / ticksPerSecond;
    if (age < firstSightingMinimumAgeSeconds)
        return 0;
    return static_cast<double>(stat.cpuTicks) / ticksPerSecond / age * 100.0;
}

std::optional<QDateTime> ProcessSnapshotCollector::startTimeOf(quint64 startTicks)
{
    if (!m_bootTime) {
        m_bootTime = m_fileSystem.readBootTime();
        if (!m_bootTime) {
            if (!m_bootTimeFailureLogged)
                qCCritical(lcMonitoring, "Cannot read the boot time from %s/stat; process start times are unknown",
                           qUtf8Printable(m_fileSystem.procRoot));
            m_bootTimeFailureLogged = true;
            return std::nullopt;
        }
    }
    const qint64 ticksPerSecond = std::max<qint64>(m_fileSystem.clockTicksPerSecond, 1);
    // Both figures are bounded far below overflow (the boot time by its reader).
    const auto ticks = static_cast<qint64>(std::min<quint64>(startTicks, 1'000'000'000'000'000));
    return QDateTime::fromMSecsSinceEpoch(*m_bootTime * 1000 + ticks * 1000 / ticksPerSecond, Qt::UTC);
}
