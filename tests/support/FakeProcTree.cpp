#include "support/FakeProcTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

FakeProcTree::FakeProcTree()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("proc"));
    QDir(m_dir.path()).mkpath(QStringLiteral("sys"));
}

ProcFileSystem FakeProcTree::fileSystem() const
{
    ProcFileSystem fileSystem;
    fileSystem.procRoot = m_dir.filePath(QStringLiteral("proc"));
    fileSystem.sysRoot = m_dir.filePath(QStringLiteral("sys"));
    fileSystem.clockTicksPerSecond = 100;
    fileSystem.pageSize = 4096;
    return fileSystem;
}

void FakeProcTree::write(const QString &relative, const QByteArray &content)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    file.write(content);
}

void FakeProcTree::remove(const QString &relative)
{
    QFile::remove(m_dir.filePath(relative));
}

void FakeProcTree::symlink(const QString &relative, const QString &target)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(target, path)) << qPrintable(path);
}

void FakeProcTree::mkfifo(const QString &relative)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0) << qPrintable(path);
}

void FakeProcTree::writeMemInfo(quint64 totalKiB, quint64 availableKiB)
{
    write(QStringLiteral("proc/meminfo"), "MemTotal:       " + QByteArray::number(totalKiB)
                                              + " kB\nMemFree:          1024 kB\n"
                                                "MemAvailable:   "
                                              + QByteArray::number(availableKiB) + " kB\nBuffers:           64 kB\n");
}

void FakeProcTree::writeCpuTimes(quint64 user, quint64 nice, quint64 system, quint64 idle, quint64 iowait,
                                 qint64 bootTime)
{
    QByteArray text = "cpu  ";
    for (const quint64 value : {user, nice, system, idle, iowait})
        text += QByteArray::number(value) + ' ';
    text += "0 0 0 0 0\ncpu0 1 2 3 4 5 0 0 0 0 0\nintr 12345 0 0\nctxt 999\nbtime " + QByteArray::number(bootTime)
            + "\nprocesses 4242\n";
    write(QStringLiteral("proc/stat"), text);
}

QByteArray FakeProcTree::statLine(qint32 pid, const QByteArray &name, quint64 utime, quint64 stime, quint64 startTicks,
                                  quint64 rssPages)
{
    // pid (comm) state ppid pgrp session tty tpgid flags minflt cminflt majflt
    // cmajflt utime stime cutime cstime priority nice threads itreal starttime vsize rss ...
    return QByteArray::number(pid) + " (" + name + ") S 1 " + QByteArray::number(pid) + ' ' + QByteArray::number(pid)
           + " 0 -1 4194304 100 0 0 0 " + QByteArray::number(utime) + ' ' + QByteArray::number(stime) + " 0 0 20 0 1 0 "
           + QByteArray::number(startTicks) + " 123456 " + QByteArray::number(rssPages)
           + " 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
}

void FakeProcTree::writeProcess(qint32 pid, const QByteArray &name, quint64 cpuTicks, quint64 startTicks,
                                quint64 rssPages)
{
    write(QStringLiteral("proc/%1/stat").arg(pid), statLine(pid, name, cpuTicks, 0, startTicks, rssPages));
}

void FakeProcTree::writeGpuCard(const QString &card, const QByteArray &busyPercent, const QByteArray &runtimeStatus)
{
    const QString device = QStringLiteral("sys/class/drm/%1/device/").arg(card);
    write(device + QStringLiteral("gpu_busy_percent"), busyPercent + '\n');
    write(device + QStringLiteral("power/runtime_status"), runtimeStatus + '\n');
}
