#include "ServiceManagerFixture.h"

#include "execution/ProcessSnapshotCollector.h"
#include "support/LogCapture.h"
#include "support/SignalTestChild.h"

#include <QElapsedTimer>

namespace {

// Commands whose processes leave the child's process group or its tree but
// stay in its session: timeout moves itself and its command into a group of
// their own, a job of a shell with job control gets one too, and a
// double-forked process is handed to the system's reaper.
struct Tree {
    const char *name;
    QString command;
    int processes;
    int sleeps; // of those processes, how many run `sleep` before the stop
    bool sameGroup = false;
    bool startsLate = false; // a process after the stop's signal, which its copy of the shell may lose
};

const Tree trees[] = {
    {"timeout", QStringLiteral("timeout 600 sleep 600; true"), 3, 1},
    {"job control", QStringLiteral("set -m; sleep 600 & wait"), 2, 1},
    {"double fork", QStringLiteral("(sleep 600 &); sleep 600"), 3, 2, true},
    // Only a sweep after the child has gone finds what it starts on its way
    // out, a while after the signal (counting in the shell starts no process),
    // deaf to the hangup of the session's end.
    {"starts another on its way out",
     QStringLiteral("trap '' HUP; trap 'i=0; while [ $i -lt 100000 ]; do i=$((i+1)); done; sleep 600 & exit 0' INT "
                    "TERM; sleep 600 & wait"),
     2, 1, true, true},
};

// Waits until the service's session has `count` processes, `sleeps` of them
// become `sleep`, some outside the child's group unless `sameGroup`, and returns them.
QList<qint32> grownSession(qint32 leader, int count, bool sameGroup = false, int sleeps = 0)
{
    QHash<qint32, qint32> members;
    const bool grown = waitUntil([&] {
        members = sessionMembers(leader);
        const auto asleep = std::count_if(members.keyBegin(), members.keyEnd(), [](qint32 pid) {
            return ChildProcessProbe::statusValue(pid, QStringLiteral("Name")) == QStringLiteral("sleep");
        });
        return members.size() >= count && asleep >= sleeps
               && (sameGroup
                   || std::any_of(members.cbegin(), members.cend(), [&](qint32 group) { return group != leader; }));
    });
    EXPECT_TRUE(grown) << members.size();
    return members.keys();
}

bool allGone(const QList<qint32> &pids)
{
    return std::none_of(pids.cbegin(), pids.cend(), [](qint32 pid) { return ChildProcessProbe::isAlive(pid); });
}

} // namespace

TEST_F(ServiceManagerTest, StopsReachProcessesThatLeftTheChildsGroup)
{
    for (const Tree &tree : trees) {
        for (const bool forced : {false, true}) {
            SCOPED_TRACE(std::string(tree.name) + (forced ? ", forced" : ", plain"));
            const ManagedService service = addService(QString::fromUtf8(tree.name), tree.command);
            await(manager.start(service.id));
            const qint32 leader = *entry(service.id).pid;
            const QList<qint32> processes = grownSession(leader, tree.processes, tree.sameGroup, tree.sleeps);

            LogCapture log;
            QElapsedTimer clock;
            clock.start();
            await(manager.stop(service.id, forced));
            await(manager.waitForStopSequences());
            // Every process ends on the first signal or the grace period's
            // SIGTERM: the exit wait never runs out but for a lost SIGTERM.
            EXPECT_LT(clock.elapsed(), (forced ? 0 : graceMs) + (tree.startsLate ? killedWithinMs : exitWaitMs));
            EXPECT_TRUE(tree.startsLate || !log.contains(QStringLiteral("outlived its stop")));
            EXPECT_TRUE(allGone(processes));
            EXPECT_TRUE(sessionMembers(leader).isEmpty());
            ASSERT_EQ(runs(service.id).size(), 1);
            EXPECT_EQ(runs(service.id).first().stopReason,
                      forced ? ServiceRunStopReason::forceKilled : ServiceRunStopReason::stopped);
        }
    }
}

TEST_F(ServiceManagerTest, QuitLeavesNothingOfAnyServiceRunning)
{
    QList<qint32> processes;
    QList<QUuid> services;
    for (const Tree &tree : trees) {
        const ManagedService service = addService(QString::fromUtf8(tree.name), tree.command);
        await(manager.start(service.id));
        processes += grownSession(*entry(service.id).pid, tree.processes, tree.sameGroup, tree.sleeps);
        services.append(service.id);
    }
    // One that shrugs off SIGTERM, with descendants in groups of their own that do the same.
    const ManagedService stubborn =
        addService(QStringLiteral("stubborn"), SignalTestChild::command({{QStringLiteral("TERM")}, 2, true}));
    await(manager.start(stubborn.id));
    ASSERT_TRUE(waitUntil([&] {
        return SignalTestChild::printedPids(entry(stubborn.id).processOutput, QStringLiteral("descendant")).size() == 2;
    }));
    const QString printed = entry(stubborn.id).processOutput;
    processes += SignalTestChild::printedPids(printed, QStringLiteral("pid"))
                 + SignalTestChild::printedPids(printed, QStringLiteral("descendant"));
    ASSERT_EQ(sessionMembers(*entry(stubborn.id).pid).size(), 3);
    services.append(stubborn.id);

    await(manager.prepareForTermination());
    EXPECT_TRUE(allGone(processes));
    for (const QUuid &id : std::as_const(services)) {
        ASSERT_EQ(runs(id).size(), 1);
        EXPECT_EQ(runs(id).first().stopReason, ServiceRunStopReason::forceKilled);
    }
}

TEST_F(ServiceManagerTest, FiguresOfAnOwnChildCoverEveryProcessItStarted)
{
    // The launched shell only waits; its child does the work.
    const ManagedService service =
        addService(QStringLiteral("busy"), QStringLiteral("sh -c 'while :; do :; done' & wait"));
    await(manager.start(service.id));
    const qint32 leader = *entry(service.id).pid;
    (void)grownSession(leader, 2, true);
    // The login shell may run short-lived helpers first, so the session is read
    // afresh each time rather than captured once.
    const auto workTicks = [&] {
        quint64 ticks = 0;
        for (const qint32 pid : sessionMembers(leader).keys()) {
            const QStringList fields = ChildProcessProbe::statFields(pid);
            ticks += fields.value(11).toULongLong() + fields.value(12).toULongLong();
        }
        return ticks;
    };

    ProcessSnapshotCollector collector;
    (void)collector.collect({}, manager.trackedProcessIDs());
    // On a loaded machine the loop gets only a slice of a core: the window
    // lasts until it has used a quarter second of CPU.
    const quint64 ticksBefore = workTicks();
    QElapsedTimer window;
    window.start();
    ASSERT_TRUE(waitUntil([&] { return window.elapsed() >= 1000 && workTicks() >= ticksBefore + 25; }, 20000));
    const QList<ProcessSnapshot> second = collector.collect({}, manager.trackedProcessIDs());
    // The share the loop really had in the window: on a loaded machine it can be
    // far below a whole core.
    const double loopShare = 100.0 * double(workTicks() - ticksBefore) / double(::sysconf(_SC_CLK_TCK))
                             / (double(window.elapsed()) / 1000.0);
    ASSERT_EQ(second.size(), sessionMembers(leader).size());
    manager.applyProcessSnapshots(second);

    const auto own = std::find_if(second.cbegin(), second.cend(), [&](const auto &s) { return s.pid == leader; });
    ASSERT_NE(own, second.cend());
    EXPECT_LT(own->cpuPercent, loopShare / 4);
    EXPECT_GT(entry(service.id).cpuPercent, loopShare / 2);
    quint64 memory = 0;
    for (const ProcessSnapshot &snapshot : second)
        memory += snapshot.memoryBytes;
    EXPECT_EQ(entry(service.id).memoryBytes, memory);
    ASSERT_TRUE(history.activeDraft(service.id));
    EXPECT_EQ(history.activeDraft(service.id)->peakCpuPercent, entry(service.id).cpuPercent);
    EXPECT_EQ(history.activeDraft(service.id)->peakMemoryBytes, memory);
    await(manager.stop(service.id, true));
}

TEST_F(ServiceManagerTest, StopsWaitEndsWhenTheLastProcessIsGone)
{
    LogCapture log;
    const ManagedService service =
        addService(QStringLiteral("stubborn"),
                   SignalTestChild::command({{QStringLiteral("INT"), QStringLiteral("TERM")}, 2, true}));
    await(manager.start(service.id));
    const auto child = handle(service.id);
    ASSERT_TRUE(waitUntil([&] {
        return SignalTestChild::printedPids(entry(service.id).processOutput, QStringLiteral("descendant")).size() == 2;
    }));
    const QString printed = entry(service.id).processOutput;
    const QList<qint32> processes = SignalTestChild::printedPids(printed, QStringLiteral("pid"))
                                    + SignalTestChild::printedPids(printed, QStringLiteral("descendant"));

    const auto stopping = std::make_shared<BackgroundTask>();
    const QCoro::Task<> stopTask = runInBackground(manager.stop(service.id, true), stopping);
    waitUntil([] { return false; }, 300);
    ASSERT_FALSE(stopping->done); // everything shrugged off SIGTERM

    SignalTestChild::release(processes);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return stopping->done; }, 20000));
    EXPECT_LT(clock.elapsed(), exitWaitMs); // within the wait, which never ran out
    EXPECT_FALSE(log.contains(QStringLiteral("outlived its stop")));
    ASSERT_TRUE(waitUntil([&] { return child->exitStatus().has_value(); }));
    EXPECT_EQ(child->exitStatus()->code, SIGUSR1);
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(runs(service.id).first().stopReason, ServiceRunStopReason::forceKilled);
}
