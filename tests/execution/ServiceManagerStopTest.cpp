#include "ServiceManagerFixture.h"

#include "support/LogCapture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

using Case = ServiceManagerError::Case;

namespace {

// The id the child printed as "<label>:<pid>".
qint32 printedPid(const QString &output, const QString &label)
{
    const qsizetype start = output.indexOf(label + QLatin1Char(':'));
    if (start < 0)
        return 0;
    const qsizetype from = start + label.size() + 1;
    qsizetype end = from;
    while (end < output.size() && output[end].isDigit())
        ++end;
    return output.mid(from, end - from).toInt();
}

// A command whose group keeps a member after the child itself ended: the
// member ignores the stop's hangup and SIGTERM and leaves only when the test
// releases it, so a stop stays in its wait for as long as the test needs
// (short of its final SIGKILL), whatever the machine's load.
class GroupHolder {
public:
    explicit GroupHolder(const QString &folder)
        : m_releaseFile(folder + QStringLiteral("/release-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {}
    ~GroupHolder() { release(); }
    GroupHolder(const GroupHolder &) = delete;
    GroupHolder &operator=(const GroupHolder &) = delete;

    QString command() const
    {
        return QStringLiteral("(trap '' HUP; trap ': > \"%1.terminated\"' TERM; echo holding; "
                              "while [ ! -e '%1' ]; do sleep 0.05; done) & exec sleep 300")
            .arg(m_releaseFile);
    }
    bool terminated() const { return QFileInfo::exists(m_releaseFile + QStringLiteral(".terminated")); }
    void release() const
    {
        QFile file(m_releaseFile);
        (void)file.open(QIODevice::WriteOnly);
    }

private:
    QString m_releaseFile;
};

} // namespace

TEST_F(ServiceManagerTest, StopsEndTheWholeGroupAndBookTheirReason)
{
    struct Row {
        const char *name;
        QString command;
        bool forced;
        qint64 minimumMs, maximumMs;
        ServiceRunStopReason reason;
        bool outlivesTheWait;
    };
    // Background commands of a shell ignore SIGINT, so each leaves a grandchild
    // in the group that the interrupt alone would not end. A shell that does
    // not ignore it ends on the first signal it gets: its exit shows which.
    const Row rows[] = {
        {"plain, the shell ignores SIGINT", QStringLiteral("trap '' INT; sleep 300 & echo \"grandchild:$!\"; wait"),
         false, graceMs, graceMs + exitWaitMs, ServiceRunStopReason::stopped, false},
        {"forced, the group ends on SIGTERM", QStringLiteral("sleep 300 & echo \"grandchild:$!\"; wait"), true, 0,
         exitWaitMs, ServiceRunStopReason::forceKilled, false},
        {"forced, everything ignores SIGTERM",
         QStringLiteral("trap '' INT TERM; sleep 300 & echo \"grandchild:$!\"; wait"), true, exitWaitMs, killedWithinMs,
         ServiceRunStopReason::forceKilled, true},
        {"plain, everything ignores SIGINT and SIGTERM",
         QStringLiteral("trap '' INT TERM; sleep 300 & echo \"grandchild:$!\"; wait"), false, graceMs + exitWaitMs,
         graceMs + killedWithinMs, ServiceRunStopReason::stopped, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        const ManagedService service = addService(QString::fromUtf8(row.name), row.command);
        await(manager.start(service.id));
        ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("grandchild:")));
        const qint32 leader = *entry(service.id).pid;
        const qint32 grandchild = printedPid(entry(service.id).processOutput, QStringLiteral("grandchild"));
        ASSERT_GT(grandchild, 0);
        ASSERT_EQ(processGroupMembers(leader).size(), 2);

        const auto child = handle(service.id);
        QElapsedTimer clock;
        clock.start();
        await(manager.stop(service.id, row.forced));
        EXPECT_GE(clock.elapsed(), row.minimumMs);
        EXPECT_LE(clock.elapsed(), row.maximumMs);
        await(manager.waitForStopSequences());
        EXPECT_TRUE(processGroupMembers(leader).isEmpty());
        EXPECT_FALSE(ChildProcessProbe::isAlive(grandchild));
        EXPECT_EQ(log.contains(QStringLiteral("outlived its stop")), row.outlivesTheWait);
        // A forced stop terminates first: SIGKILL only for what outlives the wait.
        ASSERT_TRUE(waitUntil([&] { return child->exitStatus().has_value(); }));
        if (row.forced) {
            EXPECT_EQ(child->exitStatus()->code, row.outlivesTheWait ? SIGKILL : SIGTERM);
        }

        EXPECT_EQ(entry(service.id), ServiceRuntimeInfo::fresh(service.id));
        EXPECT_TRUE(manager.launchedHandles().isEmpty());
        EXPECT_TRUE(manager.ownedPIDs().isEmpty());
        ASSERT_EQ(runs(service.id).size(), 1);
        EXPECT_EQ(runs(service.id).first().stopReason, row.reason);
        EXPECT_FALSE(runs(service.id).first().exitCode);
        EXPECT_TRUE(outputOf(runs(service.id).first()).contains(QStringLiteral("grandchild:")));

        // The stopped child's own exit report changes nothing afterwards.
        ASSERT_TRUE(waitUntil([&] { return ServiceManagerTestAccess::exitReportDelivered(manager, *child); }));
        EXPECT_EQ(runs(service.id).size(), 1);
        QString message;
        EXPECT_EQ(serviceErrorCase([&] { await(manager.stop(service.id, false)); }, &message), Case::notRunning);
        EXPECT_EQ(message, QStringLiteral("Service is not running."));
    }
}

TEST_F(ServiceManagerTest, ProcessKnownOnlyByItsIdIsStoppedWithItsGroup)
{
    // Losing the handle closes the terminal: the child must survive the hangup.
    const QString interrupted = folder + QStringLiteral("/interrupted");
    const ManagedService service =
        addService(QStringLiteral("orphan"),
                   QStringLiteral("trap '' HUP; trap ': > \"%1\"' INT; sleep 300 & echo \"grandchild:$!\"; wait")
                       .arg(interrupted));
    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("grandchild:")));
    const qint32 leader = *entry(service.id).pid;
    ServiceManagerTestAccess::loseExitReport(manager, service.id);
    waitUntil([] { return false; }, 200);
    ASSERT_EQ(processGroupMembers(leader).size(), 2);
    manager.refreshRuntimeState(service.id);
    ASSERT_TRUE(running(service.id));

    LogCapture log;
    await(manager.stop(service.id, false));
    await(manager.waitForStopSequences());
    // SIGTERM at once, with no interrupt and so no grace period, and it ends the group.
    EXPECT_FALSE(QFileInfo::exists(interrupted));
    EXPECT_FALSE(log.contains(QStringLiteral("outlived its stop")));
    EXPECT_TRUE(processGroupMembers(leader).isEmpty());
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(runs(service.id).first().stopReason, ServiceRunStopReason::stopped);
    EXPECT_TRUE(outputOf(runs(service.id).first()).contains(QStringLiteral("grandchild:")));
}

TEST_F(ServiceManagerTest, StopBooksOnceTheChildIsGoneAndWhatItLeftEndsBesideTheNextRun)
{
    const GroupHolder holder(folder);
    const ManagedService service = addService(QStringLiteral("api"), holder.command());
    await(manager.start(service.id));
    const qint32 firstPid = handle(service.id)->processIdentifier();
    // Once it speaks, the holder ignores SIGINT as a background command does.
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("holding")));
    ASSERT_TRUE(waitUntil([&] { return processGroupMembers(firstPid).size() >= 2; }));

    // The interrupt ends the child: its run is booked while the member it
    // left is still being ended, before the grace period's SIGTERM.
    await(manager.stop(service.id, false));
    EXPECT_FALSE(holder.terminated());
    EXPECT_FALSE(processGroupMembers(firstPid).isEmpty());
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(runs(service.id).first().stopReason, ServiceRunStopReason::stopped);

    await(manager.start(service.id));
    const qint32 secondPid = *entry(service.id).pid;
    EXPECT_NE(secondPid, firstPid);
    holder.release();
    await(manager.waitForStopSequences());
    EXPECT_TRUE(processGroupMembers(firstPid).isEmpty());
    EXPECT_TRUE(running(service.id));
    EXPECT_EQ(handle(service.id)->processIdentifier(), secondPid);
    EXPECT_TRUE(ChildProcessProbe::isAlive(secondPid)); // the old session's signals never reach the new one
    ASSERT_TRUE(history.activeDraft(service.id));
    EXPECT_EQ(history.activeDraft(service.id)->pid, secondPid);
    EXPECT_EQ(runs(service.id).size(), 1);
    await(manager.stop(service.id, true));
}

TEST_F(ServiceManagerTest, MonitoringTickDuringAStopLeavesTheRunToTheStop)
{
    const ManagedService service = addService(QStringLiteral("api"), QStringLiteral("exec sleep 300"));
    await(manager.start(service.id));

    const auto stopping = std::make_shared<BackgroundTask>();
    const QCoro::Task<> stopTask = runInBackground(manager.stop(service.id, false), stopping);
    // A tick on every turn of the event loop, so one comes between the
    // child's exit report and the stop's booking.
    while (!stopping->done) {
        manager.applyProcessSnapshots({});
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_FALSE(stopping->error);
    EXPECT_FALSE(running(service.id));
    ASSERT_EQ(runs(service.id).size(), 1);
    EXPECT_EQ(runs(service.id).first().stopReason, ServiceRunStopReason::stopped);
}
