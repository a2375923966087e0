#include "execution/ProcessSnapshotReconciliation.h"

#include <gtest/gtest.h>

namespace {

using Observation = ProcessSnapshotReconciliation::Observation;

const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'000'000, Qt::UTC);

ProcessSnapshot snapshot(qint32 pid, qint32 session, double cpu, quint64 memory)
{
    return ProcessSnapshot {pid, std::nullopt, cpu, memory, now.addSecs(-30), session};
}

ServiceRuntimeInfo running(const QUuid &id, qint32 pid, const QString &output)
{
    ServiceRuntimeInfo entry = ServiceRuntimeInfo::fresh(id);
    entry.state = ServiceLifecycleState::running;
    entry.pid = pid;
    entry.processOutput = output;
    return entry;
}

} // namespace

TEST(ProcessSnapshotReconciliation, LiveProcessesTakeTheirFiguresAndOwnChildrenTheirSessions)
{
    const QUuid child = QUuid::createUuid(), adopted = QUuid::createUuid();
    const ProcessSnapshotReconciliation reconciliation(
        {snapshot(10, 10, 1, 100), snapshot(11, 10, 2, 200), snapshot(20, 20, 4, 400), snapshot(21, 20, 8, 800)}, now);
    const auto result = reconciliation.reconcile(
        {}, {Observation {.serviceId = child, .kind = Observation::Kind::live, .pid = 10, .ownChild = true},
             Observation {.serviceId = adopted, .kind = Observation::Kind::live, .pid = 20}});

    EXPECT_EQ(result.changed, (QList<QUuid> {child, adopted}));
    EXPECT_EQ(result.runtime.value(child).cpuPercent, 3);
    EXPECT_EQ(result.runtime.value(child).memoryBytes, 300u);
    EXPECT_EQ(result.runtime.value(adopted).cpuPercent, 4); // not a session of ours: its own figures only
    EXPECT_EQ(result.runtime.value(adopted).uptime, 30.0);
    EXPECT_EQ(result.runtime.value(adopted).state, ServiceLifecycleState::running);
    ASSERT_EQ(result.usages.size(), 2);
    EXPECT_EQ(result.usages[1].pid, 20);
    EXPECT_TRUE(result.endings.isEmpty());
}

TEST(ProcessSnapshotReconciliation, GoneProcessesEndTheirRunOnceAndUndecidedOnesStay)
{
    const QUuid gone = QUuid::createUuid(), stopping = QUuid::createUuid(), idle = QUuid::createUuid();
    const QHash<QUuid, ServiceRuntimeInfo> runtime {{gone, running(gone, 10, QStringLiteral("last words"))},
                                                    {stopping, running(stopping, 11, {})},
                                                    {idle, ServiceRuntimeInfo::fresh(idle)}};
    const ProcessSnapshotReconciliation reconciliation({}, now);
    const auto result =
        reconciliation.reconcile(runtime, {Observation {.serviceId = gone},
                                           Observation {.serviceId = stopping, .kind = Observation::Kind::undecided},
                                           Observation {.serviceId = idle}});

    EXPECT_EQ(result.changed, QList<QUuid> {gone});
    EXPECT_EQ(result.runtime.value(gone), ServiceRuntimeInfo::fresh(gone));
    EXPECT_EQ(result.runtime.value(stopping), runtime.value(stopping));
    EXPECT_EQ(result.endings, QList<QUuid> {gone});

    // A process still recorded, behind an entry already stopped, ends as well.
    const auto tracked = reconciliation.reconcile(runtime, {Observation {.serviceId = idle, .tracked = true}});
    EXPECT_TRUE(tracked.changed.isEmpty());
    EXPECT_EQ(tracked.endings, QList<QUuid> {idle});
}
