#pragma once

#include <QHash>

#include <optional>

// One machine-wide sample; never stored.
struct SystemMetrics {
    double cpuPercent = 0;
    quint64 memoryUsedBytes = 0;
    quint64 memoryTotalBytes = 0;
    std::optional<double> gpuPercent;

    // Non-finite readings become 0, so two equal samples always compare equal.
    static SystemMetrics make(double cpuPercent, quint64 memoryUsedBytes, quint64 memoryTotalBytes,
                              std::optional<double> gpuPercent);

    friend bool operator==(const SystemMetrics &, const SystemMetrics &) = default;
};

size_t qHash(const SystemMetrics &metrics, size_t seed = 0);
