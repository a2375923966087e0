#include "records/SystemMetrics.h"

#include <cmath>

namespace {
double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}
} // namespace

SystemMetrics SystemMetrics::make(double cpuPercent, quint64 memoryUsedBytes, quint64 memoryTotalBytes,
                                  std::optional<double> gpuPercent)
{
    SystemMetrics metrics;
    metrics.cpuPercent = finiteOrZero(cpuPercent);
    metrics.memoryUsedBytes = memoryUsedBytes;
    metrics.memoryTotalBytes = memoryTotalBytes;
    if (gpuPercent)
        metrics.gpuPercent = finiteOrZero(*gpuPercent);
    return metrics;
}

size_t qHash(const SystemMetrics &metrics, size_t seed)
{
    return qHashMulti(seed, metrics.cpuPercent, metrics.memoryUsedBytes, metrics.memoryTotalBytes,
                      metrics.gpuPercent.value_or(-1.0), metrics.gpuPercent.has_value());
}
