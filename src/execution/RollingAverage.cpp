#include "execution/RollingAverage.h"

#include <algorithm>

void RollingAverage::add(double value)
{
    values.append(value);
    const qsizetype keep = std::max<qsizetype>(capacity, 1);
    if (values.size() > keep)
        values.remove(0, values.size() - keep);
}

std::optional<double> RollingAverage::average() const
{
    if (values.isEmpty())
        return std::nullopt;
    double sum = 0;
    for (const double value : values)
        sum += value;
    return sum / static_cast<double>(values.size());
}
