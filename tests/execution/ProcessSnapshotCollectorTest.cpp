#include "execution/ProcessSnapshotCollector.h"
#include "support/ChildOutputRecorder.h"
#include "support/FakeProcTree.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// A real child, killed and reaped when the test ends.
class Child {
public:
    explicit Child(std::vector<const char *> arguments)
    {
        arguments.push_back(nullptr);
        const int result = ::posix_spawn(&m_pid, arguments.front(), nullptr, nullptr,
                                         const_cast<char *const *>(arguments.data()), environ);
        EXPECT_EQ(result, 0);
    }
    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            reap();
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return m_pid; }
    void reap()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }

private:
    pid_t m_pid = -1;
};

// The snapshot of `pid`, or one with pid 0 when there is none.
ProcessSnapshot find(const QList<ProcessSnapshot> &snapshots, qint32 pid)
{
    for (const auto &snapshot : snapshots) {
        if (snapshot.pid == pid)
            return snapshot;
    }
    return {};
}

// The CPU time a process used so far, in clock ticks (user and system).
quint64 cpuTicks(pid_t pid)
{
    const QStringList fields = ChildProcessProbe::statFields(pid);
    return fields.value(11).toULongLong() + fields.value(12).toULongLong();
}

TEST(ProcessSnapshotCollector, BusyProcessShowsRecentCpuShareAndIdleOneAboutZero)
{
    Child busy({"/bin/sh", "-c", "while :; do :; done"});
    Child idle({"/bin/sleep", "60"});
    ProcessSnapshotCollector collector;
    const QSet<qint32> wanted {busy.pid(), idle.pid()};

    const auto first = collector.collect({}, wanted);
    ASSERT_EQ(first.size(), 2);
    EXPECT_LT(first[0].pid, first[1].pid); // ascending, as ps lists them
    for (const auto &snapshot : first)
        EXPECT_EQ(snapshot.cpuPercent, 0.0); // nothing to compare with yet

    const ProcessSnapshot sleeper = find(first, idle.pid());
    ASSERT_EQ(sleeper.pid, idle.pid());
    EXPECT_EQ(sleeper.executablePath, QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
    EXPECT_GT(sleeper.memoryBytes, 0u);
    ASSERT_TRUE(sleeper.startTime.has_value());
    EXPECT_LE(std::abs(sleeper.startTime->secsTo(QDateTime::currentDateTimeUtc())), 5);

    // On a loaded machine the busy loop gets only a slice of a core, so the
    // window lasts until it has used a quarter second of CPU. Half the share it
    // had then tells it from the idle process's zero, and a percentage from a fraction.
    const quint64 busyTicksBefore = cpuTicks(busy.pid());
    QElapsedTimer window;
    window.start();
    while (window.elapsed() < 1000 || cpuTicks(busy.pid()) < busyTicksBefore + 25) {
        ASSERT_LT(window.elapsed(), 60000) << "the busy loop never got the CPU";
        QThread::msleep(50); // sleeping, so the test itself takes no share from the loop
    }
    const double loopShare = 100.0 * double(cpuTicks(busy.pid()) - busyTicksBefore) / double(::sysconf(_SC_CLK_TCK))
                             / (double(window.elapsed()) / 1000.0);
    const auto second = collector.collect({}, wanted);
    ASSERT_EQ(second.size(), 2);
    EXPECT_GT(find(second, busy.pid()).cpuPercent, loopShare / 2);
    EXPECT_LE(find(second, busy.pid()).cpuPercent, 105.0); // one thread fills one core at most
    EXPECT_LT(find(second, idle.pid()).cpuPercent, 2.0);
    // The start time is the same instant on every collection.
    EXPECT_EQ(find(second, idle.pid()).startTime, sleeper.startTime);
}

TEST(ProcessSnapshotCollector, EndedAndUnknownProcessesAreLeftOut)
{
    Child ended({"/bin/true"});
    ended.reap();
    Child alive({"/bin/sleep", "60"});
    ProcessSnapshotCollector collector;
    const auto snapshots = collector.collect({}, {ended.pid(), alive.pid(), 0, -1, std::numeric_limits<qint32>::max()});
    ASSERT_EQ(snapshots.size(), 1);
    EXPECT_EQ(snapshots[0].pid, alive.pid());
}

TEST(ProcessSnapshotCollector, NothingWantedReadsNothing)
{
    FakeProcTree tree;
    tree.writeCpuTimes(0, 0, 0, 0);
    tree.writeProcess(10, "app", 0, 0, 1);
    ProcessSnapshotCollector collector(tree.fileSystem());
    EXPECT_TRUE(collector.collect({}, {}).isEmpty());
    // An empty wanted path would match every process as a prefix and a substring.
    EXPECT_TRUE(collector.collect({QString()}, {}).isEmpty());
}

// A fake tree with the processes of the path-matching rules.
class FakeProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.writeCpuTimes(0, 0, 0, 0, 0, 1700000000);
        addProcess(10, "server", QStringLiteral("/opt/app/bin/server"), "/opt/app/bin/server|--port|80|");
        addProcess(11, "application", QStringLiteral("/opt/application"), "/opt/application|");
        addProcess(12, "app", QStringLiteral("/usr/bin/app"), "/usr/bin/app|");
        // Another user's process: no executable link, a command line that names the folder.
        addProcess(13, "python3", {}, "python3|/opt/app/run.py|");
        // A kernel thread: neither link nor command line.
        addProcess(14, "kworker/0:1", {}, "");
        addProcess(15, "exact", QStringLiteral("/opt/app"), "/opt/app|");
        tree.write(QStringLiteral("proc/16/stat"), "16 (broken");
    }

    // `cmdline` separates (and ends) arguments with "|", the kernel with NUL.
    void addProcess(qint32 pid, const QByteArray &name, const QString &exe, QByteArray cmdline)
    {
        cmdline.replace('|', '\0');
        tree.writeProcess(pid, name, 100, 200 + pid, 3);
        if (!exe.isEmpty())
            tree.symlink(QStringLiteral("proc/%1/exe").arg(pid), exe);
        tree.write(QStringLiteral("proc/%1/cmdline").arg(pid), cmdline);
        tree.write(QStringLiteral("proc/%1/statm").arg(pid), "1000 " + QByteArray::number(pid) + " 30 1 0 50 0\n");
    }

    static QList<qint32> pids(const QList<ProcessSnapshot> &snapshots)
    {
        QList<qint32> result;
        for (const auto &snapshot : snapshots)
            result.append(snapshot.pid);
        return result;
    }

    FakeProcTree tree;
};

TEST_F(FakeProcesses, WantedPathsMatchByEqualityFolderOrCommand)
{
    struct Case {
        QSet<QString> paths;
        QSet<qint32> pids;
        QList<qint32> expected;
    };
    const Case cases[] = {
        // /opt/app/bin/server by folder, /opt/application and python3 by command, /opt/app itself.
        {{QStringLiteral("/opt/app")}, {}, {10, 11, 13, 15}},
        {{QStringLiteral("/opt/app/")}, {}, {10, 11, 13, 15}}, // cleaned first
        {{QStringLiteral("/opt/app/bin/../bin/server")}, {}, {10}},
        {{QStringLiteral("/usr/bin/app")}, {}, {12}},
        {{QStringLiteral("kworker/0:1")}, {}, {14}}, // path falls back to the kernel's name
        {{QStringLiteral("/nowhere")}, {12}, {12}},  // wanted by pid whatever its path
        {{}, {14, 12, 99}, {12, 14}},
    };
    ProcessSnapshotCollector collector(tree.fileSystem());
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringList(c.paths.values()).join(QLatin1Char(',')).toStdString());
        EXPECT_EQ(pids(collector.collect(c.paths, c.pids)), c.expected);
    }
}

TEST_F(FakeProcesses, FieldsComeFromStatStatmAndExeWithFallbacks)
{
    tree.remove(QStringLiteral("proc/12/statm")); // gone between the two reads
    ProcessSnapshotCollector collector(tree.fileSystem());
    const auto snapshots = collector.collect({}, {10, 12, 13, 14});
    ASSERT_EQ(pids(snapshots), (QList<qint32> {10, 12, 13, 14}));

    EXPECT_EQ(snapshots[0].executablePath, QStringLiteral("/opt/app/bin/server"));
    EXPECT_EQ(snapshots[0].memoryBytes, 10u * 4096);
    EXPECT_EQ(snapshots[0].startTime, QDateTime::fromSecsSinceEpoch(1700000000 + 2, Qt::UTC).addMSecs(100));
    EXPECT_EQ(snapshots[1].memoryBytes, 3u * 4096); // the resident size in stat
    EXPECT_EQ(snapshots[2].executablePath, QStringLiteral("python3 /opt/app/run.py"));
    EXPECT_EQ(snapshots[3].executablePath, QStringLiteral("kworker/0:1"));
}

TEST_F(FakeProcesses, CpuShareComparesWithTheSameProcessOnly)
{
    ProcessSnapshotCollector collector(tree.fileSystem());
    EXPECT_EQ(collector.collect({}, {10, 11})[0].cpuPercent, 0.0);

    tree.writeProcess(10, "server", 150, 210, 3);      // same process, 0.5 s more CPU
    tree.writeProcess(11, "application", 150, 999, 3); // pid reused by a new process
    QThread::msleep(20);
    const auto second = collector.collect({}, {10, 11});
    EXPECT_GT(second[0].cpuPercent, 0.0);
    EXPECT_EQ(second[1].cpuPercent, 0.0);

    tree.writeProcess(10, "server", 100, 210, 3); // a counter that went backwards never gives a negative share
    EXPECT_EQ(collector.collect({}, {10})[0].cpuPercent, 0.0);
}

TEST(ProcessSnapshotCollector, SessionMembersComeAlongAndFirstSightingsShowTheirShareSinceStart)
{
    FakeProcTree tree;
    tree.writeCpuTimes(0, 0, 0, 0);
    tree.write(QStringLiteral("proc/uptime"), "100.00 350.00\n");
    // 20 leads a session with 21 (in a group of its own) and 22; 30 is elsewhere.
    tree.writeProcess(20, "sh", 0, 9000, 1);                                     // 10 s old, idle
    QByteArray member = FakeProcTree::statLine(21, "server", 400, 100, 9000, 5); // 5 s of CPU in 10 s
    tree.write(QStringLiteral("proc/21/stat"), member.replace(" S 1 21 21 ", " S 20 21 20 "));
    QByteArray young = FakeProcTree::statLine(22, "worker", 10, 0, 9990, 2); // 0.1 s old
    tree.write(QStringLiteral("proc/22/stat"), young.replace(" S 1 22 22 ", " S 20 20 20 "));
    tree.writeProcess(30, "other", 100, 9000, 1);

    ProcessSnapshotCollector collector(tree.fileSystem());
    const auto snapshots = collector.collect({}, {20});
    ASSERT_EQ(snapshots.size(), 3);
    EXPECT_EQ(snapshots[0].pid, 20);
    EXPECT_EQ(snapshots[0].cpuPercent, 0.0);
    EXPECT_EQ(snapshots[1].pid, 21);
    EXPECT_EQ(snapshots[1].session, 20);
    EXPECT_DOUBLE_EQ(snapshots[1].cpuPercent, 50.0);
    EXPECT_EQ(snapshots[2].pid, 22);
    EXPECT_EQ(snapshots[2].cpuPercent, 0.0); // too young for its share to mean anything
    // A wanted process that leads no session brings nothing else along.
    EXPECT_EQ(collector.collect({}, {21}).size(), 1);
}

TEST(ProcessSnapshotCollector, MissingBootTimeLeavesStartTimeAbsent)
{
    FakeProcTree tree;
    tree.writeProcess(10, "app", 0, 5, 1);
    ProcessSnapshotCollector collector(tree.fileSystem());
    const auto snapshots = collector.collect({}, {10});
    ASSERT_EQ(snapshots.size(), 1);
    EXPECT_EQ(snapshots[0].startTime, std::nullopt);
}

} // namespace
