#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

// CPU, memory, start time and executable of one watched process, as seen by
// one collection (ProcessSnapshotCollector).
struct ProcessSnapshot {
    qint32 pid = 0;
    // The cleaned executable path; falls back to the command when the
    // executable cannot be read. Always filled by the collector.
    std::optional<QString> executablePath;
    // CPU time used since the previous collection over the wall time between
    // them, ×100 (above 100 for a process busy on several cores). The first
    // time a process is seen: its share since it started, or 0 while it is
    // too young for that share to mean anything.
    double cpuPercent = 0;
    quint64 memoryBytes = 0; // resident
    std::optional<QDateTime> startTime;
    // The session the process belongs to; a service's child leads its own.
    qint32 session = 0;

    friend bool operator==(const ProcessSnapshot &, const ProcessSnapshot &) = default;
};

size_t qHash(const ProcessSnapshot &snapshot, size_t seed = 0);
