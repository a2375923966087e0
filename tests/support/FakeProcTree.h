#pragma once

#include "platform/ProcFileSystem.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A throwaway /proc and /sys for the monitoring readers: 100 clock ticks per
// second and 4096-byte pages, whatever the real machine has.
class FakeProcTree {
public:
    FakeProcTree();

    ProcFileSystem fileSystem() const;
    QString root() const { return m_dir.path(); }

    // Writes `content` at `relative` (under the tree's root), making folders.
    void write(const QString &relative, const QByteArray &content);
    void remove(const QString &relative);
    void symlink(const QString &relative, const QString &target);
    void mkfifo(const QString &relative);

    void writeMemInfo(quint64 totalKiB, quint64 availableKiB);
    // /proc/stat with the machine-wide line and a boot time.
    void writeCpuTimes(quint64 user, quint64 nice, quint64 system, quint64 idle, quint64 iowait = 0,
                       qint64 bootTime = 1700000000);
    // A /proc/<pid>/stat line in the kernel's layout.
    static QByteArray statLine(qint32 pid, const QByteArray &name, quint64 utime, quint64 stime, quint64 startTicks,
                               quint64 rssPages);
    void writeProcess(qint32 pid, const QByteArray &name, quint64 cpuTicks, quint64 startTicks, quint64 rssPages);
    // A card under /sys/class/drm with its busy figure and runtime power status.
    void writeGpuCard(const QString &card, const QByteArray &busyPercent, const QByteArray &runtimeStatus = "active");

private:
    QTemporaryDir m_dir;
};
