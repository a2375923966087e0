#pragma once

#include "platform/ProcFileSystem.h"

#include <optional>

// Machine-wide memory, CPU and GPU load. Memory and CPU are read on the
// monitoring tick (main thread); the GPU query keeps no state and may be
// called from any thread.
class MachineMetricsProbes {
public:
    explicit MachineMetricsProbes(ProcFileSystem fileSystem = ProcFileSystem::system());

    struct HostMemory {
        quint64 usedBytes = 0;
        quint64 totalBytes = 0;
    };
    // MemTotal − MemAvailable, never above the total; 0 in use when unreadable.
    HostMemory sampleHostMemory() const;

    // Percentage of CPU time spent busy since the previous call, 0 to 100.
    // The first reading is 0; an unreadable reading is 0 and keeps the baseline.
    double sampleHostCPULoad();

    // The busiest awake card's utilisation, clamped to 0–100; nothing when no
    // card reports one.
    std::optional<double> queryAcceleratorUtilization() const;

    const ProcFileSystem &fileSystem() const { return m_fileSystem; }

private:
    struct CpuSums {
        quint64 user = 0;
        quint64 nice = 0;
        quint64 system = 0;
        quint64 idle = 0;
    };

    ProcFileSystem m_fileSystem;
    std::optional<CpuSums> m_cpuBaseline;
};
