#include "execution/GPUUtilizationSampler.h"
#include "execution/MachineMetricsProbes.h"
#include "support/Await.h"
#include "support/FakeProcTree.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace {

TEST(RollingAverage, KeepsTheLastCapacityValuesAndAveragesThem)
{
    RollingAverage window;
    window.capacity = 8;
    EXPECT_EQ(window.average(), std::nullopt);
    for (int value = 1; value <= 9; ++value)
        window.add(value);
    EXPECT_EQ(window.values, (QList<double> {2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_DOUBLE_EQ(*window.average(), 5.5);
}

TEST(GPUUtilizationSampler, WindowCapacityFollowsIntervalAndLength)
{
    struct Case {
        double interval, windowLength, expectedInterval;
        qsizetype expectedCapacity;
    };
    const Case cases[] = {
        {0.2, 1.5, 0.2, 8},    // 7.5 rounds away from zero
        {0.01, 1.0, 0.05, 20}, // interval raised to 0.05
        {1.0, 0.1, 1.0, 1},    // never below one value
    };
    for (const auto &c : cases) {
        GPUUtilizationSampler sampler({}, c.interval, c.windowLength);
        EXPECT_DOUBLE_EQ(sampler.sampleInterval(), c.expectedInterval);
        EXPECT_EQ(sampler.window().capacity, c.expectedCapacity);
    }
}

TEST(GPUUtilizationSampler, UpdateWindowSetsIntervalAndCapacity)
{
    struct Case {
        double duration, expectedInterval;
        qsizetype expectedCapacity;
    };
    const Case cases[] = {{1.0, 0.125, 8}, {0.2, 0.05, 4}, {10.0, 0.25, 40}};
    for (const auto &c : cases) {
        GPUUtilizationSampler sampler({}, 0.2, 1.5);
        sampler.updateWindow(c.duration);
        sampler.waitForIdle();
        EXPECT_DOUBLE_EQ(sampler.sampleInterval(), c.expectedInterval);
        EXPECT_EQ(sampler.window().capacity, c.expectedCapacity);
        EXPECT_EQ(sampler.currentAverage(), std::nullopt); // nothing reported, nothing carried
    }
}

TEST(GPUUtilizationSampler, NewWindowStartsWithTheOldAverageReadFromSysfs)
{
    FakeProcTree tree;
    const MachineMetricsProbes probes(tree.fileSystem());
    GPUUtilizationSampler sampler([probes] { return probes.queryAcceleratorUtilization(); }, 0.2, 1.5);
    for (const QByteArray busy : {"20", "40", "60"}) {
        tree.writeGpuCard(QStringLiteral("card0"), busy);
        sampler.addReading(*sampler.probe()());
    }
    EXPECT_EQ(sampler.window().values, (QList<double> {20, 40, 60}));

    sampler.updateWindow(1.0);
    sampler.waitForIdle();
    const RollingAverage window = sampler.window();
    EXPECT_EQ(window.capacity, 8);
    EXPECT_EQ(window.values, QList<double> {40});
    EXPECT_EQ(sampler.currentAverage(), 40.0);
}

TEST(GPUUtilizationSampler, ReadsOnItsOwnThreadUntilStopped)
{
    std::atomic<int> readings = 0;
    std::atomic<bool> onCallerThread = false;
    const auto caller = QThread::currentThread();
    GPUUtilizationSampler sampler(
        [&]() -> std::optional<double> {
            if (QThread::currentThread() == caller)
                onCallerThread = true;
            return ++readings;
        },
        0.05, 1.0);
    sampler.start();
    EXPECT_TRUE(waitUntil([&] { return readings >= 4; }));
    sampler.stop();
    sampler.waitForIdle();
    const int afterStop = readings;
    QThread::msleep(200);
    EXPECT_EQ(readings, afterStop);
    EXPECT_FALSE(onCallerThread);
    EXPECT_TRUE(sampler.currentAverage().has_value());
}

TEST(GPUUtilizationSampler, StartWhileSamplingAndStopWhenIdleDoNothing)
{
    std::atomic<int> readings = 0;
    GPUUtilizationSampler sampler([&]() -> std::optional<double> { return ++readings; }, 60, 60);
    sampler.stop();
    sampler.start();
    sampler.start();
    sampler.waitForIdle();
    EXPECT_EQ(readings, 1); // one reading at start, the next not due for a minute
}

TEST(GPUUtilizationSampler, ProbeWithoutFigureNeverReportsAndIsAskedAgainOnlyAfterTheRecheckInterval)
{
    struct Case {
        const char *name;
        std::chrono::milliseconds recheck;
        bool looksAgain; // soon; the other stays quiet for half a second (ten reading intervals)
    };
    const Case cases[] = {
        {"rechecked once a minute", std::chrono::minutes(1), false},
        {"rechecked every 50 ms", std::chrono::milliseconds(50), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> readings = 0;
        GPUUtilizationSampler sampler(
            [&]() -> std::optional<double> {
                ++readings;
                return std::nullopt;
            },
            0.05, 1.0, c.recheck);
        sampler.start();
        sampler.waitForIdle(); // the reading at start is taken
        EXPECT_EQ(waitUntil([&] { return readings >= 3; }, c.looksAgain ? 10000 : 500), c.looksAgain);
        EXPECT_TRUE(c.looksAgain || readings == 1);
        sampler.updateWindow(1.0);
        sampler.waitForIdle();
        EXPECT_EQ(sampler.currentAverage(), std::nullopt);
        EXPECT_TRUE(sampler.window().values.isEmpty());
    }
}

TEST(GPUUtilizationSampler, SourceThatAppearsIsSampledAtTheIntervalAgain)
{
    std::atomic<bool> present = false;
    std::atomic<int> readings = 0;
    GPUUtilizationSampler sampler(
        [&]() -> std::optional<double> {
            ++readings;
            return present ? std::optional<double>(50) : std::nullopt;
        },
        0.05, 1.0, std::chrono::milliseconds(100));
    sampler.start();
    present = true;
    ASSERT_TRUE(waitUntil([&] { return sampler.currentAverage().has_value(); }));
    const int found = readings;
    EXPECT_TRUE(waitUntil([&] { return readings >= found + 4; }));
    EXPECT_EQ(sampler.currentAverage(), 50.0);
}

} // namespace
