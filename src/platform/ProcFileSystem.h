#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reads the kernel's process and device trees. The roots and the two machine
// constants are plain values so tests can point everything at a fake tree.
// Every reader returns nothing (or an empty list) when the file is missing or
// malformed; a process that ends while being read is simply not found.
struct ProcFileSystem {
    QString procRoot = QStringLiteral("/proc");
    QString sysRoot = QStringLiteral("/sys");
    qint64 clockTicksPerSecond = 100;
    qint64 pageSize = 4096;

    // The real trees with this machine's tick rate and page size.
    static ProcFileSystem system();

    // The installed memory, for when /proc/meminfo cannot be read.
    static quint64 physicalMemoryBytes();

    struct MemoryInfo {
        quint64 totalBytes = 0;
        std::optional<quint64> availableBytes;
    };
    // MemTotal and MemAvailable of /proc/meminfo; nothing without MemTotal.
    std::optional<MemoryInfo> readMemoryInfo() const;

    // The machine-wide "cpu" line of /proc/stat, in clock ticks.
    struct CpuTimes {
        quint64 user = 0;
        quint64 nice = 0;
        quint64 system = 0;
        quint64 idle = 0;
        quint64 iowait = 0;
        quint64 irq = 0;
        quint64 softirq = 0;
        quint64 steal = 0;
    };
    std::optional<CpuTimes> readCpuTimes() const;

    // Seconds since the epoch at which the machine booted ("btime").
    std::optional<qint64> readBootTime() const;

    // The fields of /proc/<pid>/stat that monitoring needs.
    struct ProcessStat {
        QByteArray name; // the kernel's short command name
        char state = '?';
        qint32 parent = 0;
        qint32 processGroup = 0;
        qint32 session = 0;
        // The foreground group of the process's controlling terminal; 0 without one.
        qint32 terminalForegroundGroup = 0;
        quint64 cpuTicks = 0;   // user + system time of all threads
        quint64 startTicks = 0; // clock ticks after boot
        quint64 residentPages = 0;
    };
    std::optional<ProcessStat> readProcessStat(qint32 pid) const;

    struct ProcessStatEntry {
        qint32 pid = 0;
        ProcessStat stat;
    };
    // The stat of every process, ascending by pid, in one pass over the proc
    // root; processes that end during the pass are left out.
    QList<ProcessStatEntry> readAllProcessStats() const;

    // Seconds since boot, from /proc/uptime.
    std::optional<double> readUptime() const;

    // The resident size from /proc/<pid>/statm, in pages.
    std::optional<quint64> readResidentPages(qint32 pid) const;

    // The target of /proc/<pid>/exe; nothing when it cannot be read (gone,
    // another user's process, kernel thread).
    std::optional<QString> readExecutablePath(qint32 pid) const;

    // The arguments of /proc/<pid>/cmdline joined by single spaces; empty for
    // kernel threads and zombies, nothing when unreadable.
    std::optional<QString> readCommandLine(qint32 pid) const;

    // The effective user id from the "Uid:" line of /proc/<pid>/status.
    std::optional<quint32> readEffectiveUserId(qint32 pid) const;

    // The children of the process's main thread, from its task's children
    // list; where the kernel keeps no such list, from every process's parent.
    QList<qint32> readChildren(qint32 pid) const;

    // Every process id listed under the proc root, ascending.
    QList<qint32> listProcessIds() const;

    struct ProcessFolder {
        qint32 pid = 0;
        // The inode number of the process's folder: it stays while the process
        // lives and differs for a later process that takes over the id.
        quint64 inode = 0;
    };
    // Every process folder under the proc root, without reading any file in it.
    QList<ProcessFolder> listProcessFolders() const;

    // gpu_busy_percent of every /sys/class/drm/cardN whose device is not
    // runtime-suspended (reading a suspended card would wake it).
    QList<double> readGpuBusyPercents() const;
};
