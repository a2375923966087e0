// The cost of monitoring: one tick's work with 20 tracked processes, and the
// whole process's CPU share while monitoring 20 idle services beside a plain
// once-a-second ps loop over the same services. Then the same for 20 services
// that each run a 3-process tree in a session of their own, on a machine
// topped up with idle processes to about 500, whose figures are summed over
// each session.
//
// The long comparison runs VELMORA_BENCH_SECONDS seconds per side (20 by
// default): `VELMORA_BENCH_SECONDS=60 ./monitoring_bench`.
#include "execution/GPUUtilizationSampler.h"
#include "execution/MachineMetricsProbes.h"
#include "execution/MonitoringManager.h"
#include "execution/ProcessSnapshotCollector.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <csignal>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

pid_t spawn(std::vector<const char *> arguments, posix_spawn_file_actions_t *actions = nullptr,
            char **environment = environ)
{
    arguments.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, arguments.front(), actions, nullptr, const_cast<char *const *>(arguments.data()),
                      environment)
        != 0)
        return -1;
    return pid;
}

// Idle services: children that sleep until they are killed.
class IdleChildren {
public:
    explicit IdleChildren(int count)
    {
        for (int index = 0; index < count; ++index) {
            const pid_t pid = spawn({"/bin/sleep", "100000"});
            if (pid > 0)
                m_pids.insert(pid);
        }
    }
    ~IdleChildren()
    {
        for (const qint32 pid : std::as_const(m_pids)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    IdleChildren(const IdleChildren &) = delete;
    IdleChildren &operator=(const IdleChildren &) = delete;

    const QSet<qint32> &pids() const { return m_pids; }

private:
    QSet<qint32> m_pids;
};

// Services whose launched shell starts two workers and waits, each in a
// session of its own as the service manager launches them.
class ServiceTrees {
public:
    explicit ServiceTrees(int count)
    {
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        std::vector<const char *> arguments {"/bin/sh", "-c", "sleep 100000 & sleep 100000 & wait", nullptr};
        for (int index = 0; index < count; ++index) {
            pid_t pid = -1;
            if (::posix_spawn(&pid, arguments.front(), nullptr, &attributes,
                              const_cast<char *const *>(arguments.data()), environ)
                == 0)
                m_leaders.insert(pid);
        }
        ::posix_spawnattr_destroy(&attributes);
        // Until every shell has started both workers.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (processes() < 3 * m_leaders.size() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~ServiceTrees()
    {
        for (const qint32 leader : std::as_const(m_leaders)) {
            for (const auto &process : ProcFileSystem::system().readAllProcessStats()) {
                if (process.stat.session == leader)
                    ::kill(process.pid, SIGKILL);
            }
            ::waitpid(leader, nullptr, 0);
        }
    }
    ServiceTrees(const ServiceTrees &) = delete;
    ServiceTrees &operator=(const ServiceTrees &) = delete;

    const QSet<qint32> &leaders() const { return m_leaders; }
    qsizetype processes() const
    {
        qsizetype count = 0;
        for (const auto &process : ProcFileSystem::system().readAllProcessStats())
            count += m_leaders.contains(process.stat.session) ? 1 : 0;
        return count;
    }

private:
    QSet<qint32> m_leaders;
};

// Idle processes that bring the machine to about `total` processes.
std::unique_ptr<IdleChildren> topUpTo(int total)
{
    const auto present = ProcFileSystem::system().listProcessIds().size();
    return std::make_unique<IdleChildren>(std::max<int>(0, total - int(present)));
}

double seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage {};
    ::getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double residentMiB()
{
    const ProcFileSystem fileSystem = ProcFileSystem::system();
    const auto pages = fileSystem.readResidentPages(static_cast<qint32>(::getpid()));
    return static_cast<double>(pages.value_or(0) * static_cast<quint64>(fileSystem.pageSize)) / (1024.0 * 1024.0);
}

int comparisonSeconds()
{
    const int value = qEnvironmentVariableIntValue("VELMORA_BENCH_SECONDS");
    return value > 0 ? value : 20;
}

// What the tick does on the main thread plus the collection it hands to its
// background thread, run here on one thread so its CPU time is measured.
void monitoringTicks(benchmark::State &state, const QSet<qint32> &tracked, qsizetype expected, const char *missing)
{
    const ProcFileSystem fileSystem = ProcFileSystem::system();
    MachineMetricsProbes probes(fileSystem);
    const GPUUtilizationSampler sampler([probes] { return probes.queryAcceleratorUtilization(); }, 0.2, 1.5);
    ProcessSnapshotCollector collector(fileSystem);
    for (auto _ : state) {
        const auto gpu = sampler.currentAverage();
        const auto memory = probes.sampleHostMemory();
        const double cpu = probes.sampleHostCPULoad();
        benchmark::DoNotOptimize(SystemMetrics::make(cpu, memory.usedBytes, memory.totalBytes, gpu));
        const auto snapshots = collector.collect({}, tracked);
        if (snapshots.size() != expected)
            state.SkipWithError(missing);
        benchmark::DoNotOptimize(snapshots);
    }
}

void BM_MonitoringTick(benchmark::State &state)
{
    const IdleChildren children(static_cast<int>(state.range(0)));
    monitoringTicks(state, children.pids(), children.pids().size(), "a tracked process was not found");
}
BENCHMARK(BM_MonitoringTick)->Arg(20)->Unit(benchmark::kMicrosecond);

// The same tick for 20 services of 3 processes each among about 500.
void BM_MonitoringTickServiceTrees(benchmark::State &state)
{
    const ServiceTrees trees(20);
    const auto filler = topUpTo(500);
    monitoringTicks(state, trees.leaders(), 3 * trees.leaders().size(), "a process of a tree was not found");
    state.counters["processes"] = double(ProcFileSystem::system().listProcessIds().size());
}
BENCHMARK(BM_MonitoringTickServiceTrees)->Unit(benchmark::kMicrosecond);

// One GPU sampler reading (8 of them a second while monitoring runs).
void BM_GpuProbe(benchmark::State &state)
{
    const MachineMetricsProbes probes;
    for (auto _ : state)
        benchmark::DoNotOptimize(probes.queryAcceleratorUtilization());
}
BENCHMARK(BM_GpuProbe)->Unit(benchmark::kMicrosecond);

// The sampler left running for four seconds at the monitoring manager's
// reading interval: the probes it took after the one at its start, and the
// process's CPU time meanwhile (only the sampler's thread is awake), both per
// minute. On a machine without a GPU source the sampler looks again once a
// minute; the baseline keeps looking at every reading interval.
void gpuSamplerIdle(benchmark::State &state, std::chrono::milliseconds recheck)
{
    const MachineMetricsProbes probes;
    constexpr int seconds = 4;
    std::atomic<int> readings = 0;
    double cpu = 0;
    for (auto _ : state) {
        GPUUtilizationSampler sampler(
            [&] {
                ++readings;
                return probes.queryAcceleratorUtilization();
            },
            0.2, 1.5, recheck);
        sampler.updateWindow(1.0); // the manager's one-second tick: a reading every 0.125 s
        sampler.start();
        sampler.waitForIdle();
        readings = 0;
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        state.SetIterationTime(seconds);
    }
    state.counters["probes_per_minute"] = readings * 60.0 / seconds;
    state.counters["cpu_ms_per_minute"] = cpu * 1000 * 60 / seconds;
    state.counters["source_exists"] = probes.queryAcceleratorUtilization().has_value() ? 1 : 0;
}
BENCHMARK_CAPTURE(gpuSamplerIdle, rechecksOnceAMinute, GPUUtilizationSampler::defaultSourceRecheckInterval)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(gpuSamplerIdle, baselineEveryReading, std::chrono::milliseconds(125))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// One run of ps over all processes, read to its end; its own CPU time is
// reported as ps_cpu_us (the benchmark's CPU column is only ours).
void runPsOnce()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    static char locale[] = "LC_ALL=C";
    char *environment[] = {locale, nullptr};
    const pid_t pid = spawn({"/bin/ps", "-axo", "pid=,pcpu=,rss=,lstart=,comm="}, &actions, environment);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    char buffer[65536];
    while (::read(pipe[0], buffer, sizeof buffer) > 0) {}
    ::close(pipe[0]);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
}

void BM_PsRun(benchmark::State &state)
{
    const IdleChildren children(20);
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state)
        runPsOnce();
    state.counters["ps_cpu_us"] =
        benchmark::Counter((cpuSeconds(RUSAGE_CHILDREN) - before) * 1e6, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PsRun)->Unit(benchmark::kMillisecond);

// The real manager with its timer, GPU sampler and collection thread, tracking
// `tracked` for `duration` seconds; the figures go to the state's counters,
// the resident memory (while the manager still runs) where asked.
void monitorFor(benchmark::State &state, int duration, const std::function<QSet<qint32>()> &tracked,
                bool reportResident)
{
    const ProcFileSystem fileSystem = ProcFileSystem::system();
    const MachineMetricsProbes probes(fileSystem);
    MonitoringManager manager(
        std::make_shared<GPUUtilizationSampler>([probes] { return probes.queryAcceleratorUtilization(); }, 0.2, 1.5),
        fileSystem);
    qint64 delivered = 0;
    manager.configureProcessSampling(
        tracked, {}, [&delivered](const QList<ProcessSnapshot> &snapshots) { delivered += snapshots.size(); });
    const double residentBefore = reportResident ? residentMiB() : 0;
    const double before = cpuSeconds(RUSAGE_SELF);
    const auto started = std::chrono::steady_clock::now();
    manager.start();
    QEventLoop loop;
    QTimer::singleShot(duration * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double used = cpuSeconds(RUSAGE_SELF) - before;
    state.SetIterationTime(elapsed);
    state.counters["cpu_percent_of_core"] = used / elapsed * 100;
    state.counters["cpu_ms_per_second"] = used / elapsed * 1000;
    if (reportResident) {
        state.counters["rss_MiB"] = residentMiB();
        state.counters["rss_growth_MiB"] = residentMiB() - residentBefore;
    }
    state.counters["snapshots_per_second"] = static_cast<double>(delivered) / elapsed;
}

// Monitoring 20 idle services for the whole duration.
void BM_SupervisorMonitoring(benchmark::State &state)
{
    const int duration = comparisonSeconds();
    for (auto _ : state) {
        const IdleChildren children(20);
        monitorFor(
            state, duration, [&children] { return children.pids(); }, true);
    }
}
BENCHMARK(BM_SupervisorMonitoring)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Monitoring 20 services of 3 processes each among about 500.
void BM_SupervisorMonitoringServiceTrees(benchmark::State &state)
{
    const int duration = comparisonSeconds();
    for (auto _ : state) {
        const ServiceTrees trees(20);
        const auto filler = topUpTo(500);
        monitorFor(
            state, duration, [&trees] { return trees.leaders(); }, false);
        state.counters["processes"] = double(ProcFileSystem::system().listProcessIds().size());
    }
}
BENCHMARK(BM_SupervisorMonitoringServiceTrees)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The same 20 services under a plain ps loop, once a second.
void BM_PsLoop(benchmark::State &state)
{
    const int duration = comparisonSeconds();
    for (auto _ : state) {
        const IdleChildren children(20);
        const double selfBefore = cpuSeconds(RUSAGE_SELF);
        const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
        const auto started = std::chrono::steady_clock::now();
        auto next = started;
        for (int second = 0; second < duration; ++second) {
            runPsOnce();
            next += std::chrono::seconds(1);
            std::this_thread::sleep_until(next);
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double self = cpuSeconds(RUSAGE_SELF) - selfBefore;
        const double ps = cpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
        state.SetIterationTime(elapsed);
        state.counters["cpu_percent_of_core"] = (self + ps) / elapsed * 100;
        state.counters["ps_cpu_ms_per_second"] = ps / elapsed * 1000;
    }
}
BENCHMARK(BM_PsLoop)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The manager's timer and its queued deliveries need an event loop.
    QCoreApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
