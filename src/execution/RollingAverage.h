#pragma once

#include <QList>

#include <optional>

// The mean of the last `capacity` samples.
struct RollingAverage {
    QList<double> values; // oldest first
    qsizetype capacity = 1;

    // Appends, then drops the oldest samples beyond capacity.
    void add(double value);
    // Nothing while empty.
    std::optional<double> average() const;

    friend bool operator==(const RollingAverage &, const RollingAverage &) = default;
};
