#include "execution/MachineMetricsProbes.h"
#include "support/FakeProcTree.h"

#include <gtest/gtest.h>

namespace {

struct MemoryCase {
    const char *name;
    QByteArray meminfo; // empty: no file
    quint64 expectedUsed;
    std::optional<quint64> expectedTotal; // nothing: the machine's physical memory
};

TEST(MachineMetricsProbes, MemoryInUseIsTotalLessAvailableAndNeverAboveTotal)
{
    const MemoryCase cases[] = {
        {"ordinary", "MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 250 kB\n", 750 * 1024ULL, 1000 * 1024ULL},
        {"available above total", "MemTotal: 1000 kB\nMemAvailable: 1200 kB\n", 0, 1000 * 1024ULL},
        {"nothing available", "MemTotal: 1000 kB\nMemAvailable: 0 kB\n", 1000 * 1024ULL, 1000 * 1024ULL},
        {"no MemAvailable line", "MemTotal: 1000 kB\nMemFree: 100 kB\n", 0, 1000 * 1024ULL},
        {"key that only starts alike", "MemTotalX: 5 kB\nMemTotal: 8 kB\nMemAvailable: 2 kB\n", 6 * 1024ULL,
         8 * 1024ULL},
        {"garbage", "not a meminfo file", 0, std::nullopt},
        {"missing file", "", 0, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcTree tree;
        if (!c.meminfo.isEmpty())
            tree.write(QStringLiteral("proc/meminfo"), c.meminfo);
        const auto memory = MachineMetricsProbes(tree.fileSystem()).sampleHostMemory();
        EXPECT_EQ(memory.usedBytes, c.expectedUsed);
        EXPECT_EQ(memory.totalBytes, c.expectedTotal.value_or(ProcFileSystem::physicalMemoryBytes()));
        EXPECT_GT(memory.totalBytes, 0u);
    }
}

struct CpuLine {
    quint64 user, nice, system, idle, iowait;
    double expected;
};

TEST(MachineMetricsProbes, CpuLoadIsBusyShareOfTicksSincePreviousReadingAndNeverNegative)
{
    // Counters are cumulative, as the kernel prints them.
    const CpuLine lines[] = {
        {100, 0, 100, 800, 50, 0},                 // first reading: always 0
        {100, 0, 100, 800, 50, 0},                 // nothing moved
        {150, 10, 140, 900, 50, 50},               // busy 100 of 200
        {160, 10, 140, 990, 50, 10},               // busy 10 of 100
        {170, 10, 140, 1000, 10, 0},               // iowait falls by 40: idle shrinks by 30, all = -20
        {220, 10, 140, 1100, 0, 100.0 * 50 / 140}, // iowait falls by 10 again
        {220, 10, 140, 1100, 0, 0},
        {320, 10, 140, 1100, 0, 100}, // all busy
        {370, 10, 140, 1090, 0, 100}, // busy 50 while idle falls by 10: capped, not 125
    };
    FakeProcTree tree;
    MachineMetricsProbes probes(tree.fileSystem());
    int index = 0;
    for (const auto &line : lines) {
        SCOPED_TRACE(index++);
        tree.writeCpuTimes(line.user, line.nice, line.system, line.idle, line.iowait);
        const double load = probes.sampleHostCPULoad();
        EXPECT_NEAR(load, line.expected, 1e-9);
        EXPECT_GE(load, 0.0);
        EXPECT_LE(load, 100.0);
    }
}

TEST(MachineMetricsProbes, UnreadableCpuReadingIsZeroAndKeepsTheBaseline)
{
    FakeProcTree tree;
    MachineMetricsProbes probes(tree.fileSystem());
    EXPECT_EQ(probes.sampleHostCPULoad(), 0.0); // no file yet, no baseline taken
    tree.writeCpuTimes(100, 0, 0, 100, 0);
    EXPECT_EQ(probes.sampleHostCPULoad(), 0.0); // first real reading
    tree.write(QStringLiteral("proc/stat"), "cpu  a b c d\n");
    EXPECT_EQ(probes.sampleHostCPULoad(), 0.0);
    tree.writeCpuTimes(150, 0, 0, 150, 0);
    EXPECT_NEAR(probes.sampleHostCPULoad(), 50.0, 1e-9); // measured from the last good reading
}

struct GpuCase {
    const char *name;
    QList<std::tuple<QString, QByteArray, QByteArray>> cards; // card, busy, runtime status
    std::optional<double> expected;
};

TEST(MachineMetricsProbes, GpuIsBusiestAwakeCardClampedOrNothing)
{
    const GpuCase cases[] = {
        {"no cards", {}, std::nullopt},
        {"one card", {{QStringLiteral("card0"), "37", "active"}}, 37},
        {"above 100", {{QStringLiteral("card0"), "150", "active"}}, 100},
        {"negative", {{QStringLiteral("card0"), "-5", "active"}}, 0},
        {"busiest wins", {{QStringLiteral("card0"), "30", "active"}, {QStringLiteral("card1"), "60", "active"}}, 60},
        {"suspended card skipped",
         {{QStringLiteral("card0"), "90", "suspended"}, {QStringLiteral("card1"), "20", "active"}},
         20},
        {"only a suspended card", {{QStringLiteral("card0"), "90", "suspended"}}, std::nullopt},
        {"connector folders ignored", {{QStringLiteral("card0-DP-1"), "80", "active"}}, std::nullopt},
        {"unreadable figure skipped",
         {{QStringLiteral("card0"), "busy", "active"}, {QStringLiteral("card2"), "12", "unsupported"}},
         12},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcTree tree;
        for (const auto &[card, busy, status] : c.cards)
            tree.writeGpuCard(card, busy, status);
        EXPECT_EQ(MachineMetricsProbes(tree.fileSystem()).queryAcceleratorUtilization(), c.expected);
    }
}

} // namespace
