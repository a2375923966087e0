#include "execution/MachineMetricsProbes.h"

#include <algorithm>
#include <cmath>

namespace {

// Counters read as unsigned but compared as signed: per-CPU iowait is known
// to step backwards, and that must give a small negative difference, not a
// wrap to 2^64.
double signedDifference(quint64 now, quint64 before)
{
    return static_cast<double>(static_cast<qint64>(now - before));
}

} // namespace

MachineMetricsProbes::MachineMetricsProbes(ProcFileSystem fileSystem)
    : m_fileSystem(std::move(fileSystem))
{}

MachineMetricsProbes::HostMemory MachineMetricsProbes::sampleHostMemory() const
{
    const auto info = m_fileSystem.readMemoryInfo();
    if (!info)
        return {0, ProcFileSystem::physicalMemoryBytes()};
    HostMemory memory;
    memory.totalBytes = info->totalBytes;
    if (info->availableBytes && *info->availableBytes < info->totalBytes)
        memory.usedBytes = info->totalBytes - *info->availableBytes;
    return memory;
}

double MachineMetricsProbes::sampleHostCPULoad()
{
    const auto times = m_fileSystem.readCpuTimes();
    if (!times)
        return 0;
    const CpuSums sums {times->user, times->nice, times->system + times->irq + times->softirq + times->steal,
                        times->idle + times->iowait};
    if (!m_cpuBaseline) {
        m_cpuBaseline = sums;
        return 0;
    }
    const CpuSums before = *m_cpuBaseline;
    m_cpuBaseline = sums;
    const double busy = signedDifference(sums.user, before.user) + signedDifference(sums.nice, before.nice)
                        + signedDifference(sums.system, before.system);
    const double all = busy + signedDifference(sums.idle, before.idle);
    if (!(all > 0) || !(busy > 0))
        return 0;
    return std::min(busy / all * 100.0, 100.0);
}

std::optional<double> MachineMetricsProbes::queryAcceleratorUtilization() const
{
    std::optional<double> result;
    for (const double reading : m_fileSystem.readGpuBusyPercents()) {
        const double clamped = std::clamp(reading, 0.0, 100.0);
        result = result ? std::max(*result, clamped) : clamped;
    }
    return result;
}
