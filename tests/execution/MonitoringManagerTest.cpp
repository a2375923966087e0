#include "execution/GPUUtilizationSampler.h"
#include "execution/MonitoringManager.h"
#include "support/Await.h"
#include "support/FakeProcTree.h"

#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

#include <fcntl.h>
#include <unistd.h>

namespace {

SystemMetrics metrics(double cpu, quint64 used, quint64 total = 1000, std::optional<double> gpu = std::nullopt)
{
    return SystemMetrics::make(cpu, used, total, gpu);
}

TEST(MonitoringManager, RepublishesOnlyOnChangesWorthShowing)
{
    struct Case {
        const char *name;
        SystemMetrics published, next;
        bool expected;
    };
    const Case cases[] = {
        {"identical", metrics(10, 500), metrics(10, 500), false},
        {"CPU moved by 0.1", metrics(10, 500), metrics(10.1, 500), false},
        {"CPU moved by 0.1 down", metrics(10, 500), metrics(9.9, 500), false},
        {"CPU moved by 0.2", metrics(10, 500), metrics(10.2, 500), true},
        {"CPU moved by 0.15 exactly", metrics(0, 500), metrics(0.15, 500), true},
        {"one byte more in use", metrics(10, 500), metrics(10, 501), true},
        {"total changed", metrics(10, 500, 1000), metrics(10, 500, 2000), true},
        {"GPU appears", metrics(10, 500), metrics(10, 500, 1000, 0.0), true},
        {"GPU disappears", metrics(10, 500, 1000, 0.0), metrics(10, 500), true},
        {"GPU moved by 0.1", metrics(10, 500, 1000, 50), metrics(10, 500, 1000, 50.1), false},
        {"GPU moved by 0.2", metrics(10, 500, 1000, 50), metrics(10, 500, 1000, 49.8), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MonitoringManager::differsFromPublished(c.published, c.next), c.expected);
    }
}

// A manager on a fake machine: 1000 KiB of memory and a CPU whose load the
// test sets for each tick.
class FakeMachine : public ::testing::Test {
protected:
    FakeMachine()
        : sampler(std::make_shared<GPUUtilizationSampler>(
            [this]() -> std::optional<double> {
                const double reading = gpuReading;
                return std::isnan(reading) ? std::nullopt : std::optional(reading);
            },
            60, 60)),
          manager(sampler, tree.fileSystem())
    {
        tree.writeMemInfo(1000, 250);
        tree.writeCpuTimes(0, 0, 0, 0);
        manager.configureProcessSampling(
            [this] { return trackedPIDs; }, {},
            [this](const QList<ProcessSnapshot> &snapshots) { deliveries.append(snapshots); });
    }

    // The next tick sees `percent` of CPU time busy since the previous one.
    void setCpuLoad(double percent)
    {
        busy += static_cast<quint64>(std::lround(percent * 10));
        idle += 1000 - static_cast<quint64>(std::lround(percent * 10));
        tree.writeCpuTimes(busy, 0, 0, idle);
    }

    FakeProcTree tree;
    std::atomic<double> gpuReading = std::nan(""); // NaN: the probe finds no card
    std::shared_ptr<GPUUtilizationSampler> sampler;
    MonitoringManager manager;
    QSet<qint32> trackedPIDs;
    QList<QList<ProcessSnapshot>> deliveries;
    quint64 busy = 0;
    quint64 idle = 0;
};

TEST_F(FakeMachine, FirstTickPublishesZeroCpuAndMemoryThenSmallMovesAddUp)
{
    QSignalSpy changes(&manager, &MonitoringManager::systemMetricsChanged);
    EXPECT_EQ(manager.systemMetrics(), SystemMetrics());

    manager.start();
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(manager.systemMetrics(), metrics(0, 750 * 1024ULL, 1000 * 1024ULL));
    EXPECT_EQ(changes[0][0].value<SystemMetrics>(), manager.systemMetrics());

    setCpuLoad(0.1);
    manager.tick();
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(manager.systemMetrics().cpuPercent, 0.0);

    setCpuLoad(0.2); // compared with the published 0, not with the last reading
    manager.tick();
    ASSERT_EQ(changes.size(), 2);
    EXPECT_NEAR(manager.systemMetrics().cpuPercent, 0.2, 1e-9);

    tree.writeMemInfo(1000, 249);
    setCpuLoad(0.2);
    manager.tick();
    ASSERT_EQ(changes.size(), 3);
    EXPECT_EQ(manager.systemMetrics().memoryUsedBytes, 751u * 1024);
}

TEST_F(FakeMachine, GpuFigureIsThereFromTheFirstTickWhenTheProbeHasOne)
{
    gpuReading = 42.0;
    manager.start();
    EXPECT_EQ(manager.systemMetrics().gpuPercent, 42.0);
}

TEST_F(FakeMachine, NothingTrackedDeliversAnEmptyListOnEveryTickAtOnce)
{
    manager.start();
    manager.tick();
    manager.tick();
    ASSERT_EQ(deliveries.size(), 3); // no event loop needed: nothing ran in the background
    for (const auto &delivery : deliveries)
        EXPECT_TRUE(delivery.isEmpty());
}

TEST_F(FakeMachine, OneCollectionAtATimeAndStaleResultsAreDropped)
{
    // The process's stat is a pipe, so the first collection blocks until the
    // test writes to it.
    tree.mkfifo(QStringLiteral("proc/4242/stat"));
    trackedPIDs = {4242};
    manager.tick();
    manager.tick(); // still collecting: no second collection, no delivery
    EXPECT_TRUE(deliveries.isEmpty());

    trackedPIDs.clear();
    manager.tick();
    EXPECT_EQ(deliveries.size(), 1);

    // Release the blocked collection with one resident page, then give the
    // next collection two.
    const QString fifo = tree.root() + QStringLiteral("/proc/4242/stat");
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const QByteArray stale = FakeProcTree::statLine(4242, "worker", 1, 1, 10, 1);
    EXPECT_EQ(::write(fd, stale.constData(), static_cast<size_t>(stale.size())), stale.size());
    ::close(fd);
    tree.remove(QStringLiteral("proc/4242/stat"));
    tree.writeProcess(4242, "worker", 2, 10, 2);

    trackedPIDs = {4242};
    EXPECT_TRUE(waitUntil([&] {
        manager.tick();
        return deliveries.size() == 2;
    }));
    ASSERT_EQ(deliveries.size(), 2);
    EXPECT_TRUE(deliveries[0].isEmpty());
    ASSERT_EQ(deliveries[1].size(), 1);
    EXPECT_EQ(deliveries[1][0].pid, 4242);
    EXPECT_EQ(deliveries[1][0].memoryBytes, 2u * 4096); // the fresh result, not the stale one
}

TEST(MonitoringManager, DeliversSnapshotsOfTrackedProcessesOnTheMainThread)
{
    MonitoringManager manager(std::make_shared<GPUUtilizationSampler>(GPUUtilizationSampler::Probe(), 0.2, 1.5));
    QList<ProcessSnapshot> received;
    bool onMainThread = false;
    manager.configureProcessSampling([] { return QSet<qint32> {static_cast<qint32>(::getpid())}; }, {},
                                     [&](const QList<ProcessSnapshot> &snapshots) {
                                         onMainThread = QThread::currentThread() == qApp->thread();
                                         received = snapshots;
                                     });
    manager.start();
    ASSERT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(received[0].pid, ::getpid());
    EXPECT_GT(received[0].memoryBytes, 0u);
}

} // namespace
