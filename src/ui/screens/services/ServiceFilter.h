#pragma once

#include <QList>
#include <QString>

#include <optional>

// The list's state filter, in segment order.
enum class ServiceFilter { all, running, stopped };

QList<ServiceFilter> allServiceFilters();
// "all", "running", "stopped".
QString rawValue(ServiceFilter filter);
// Exactly one of the raw values, nothing else (the segment labels included).
std::optional<ServiceFilter> serviceFilterFromRawValue(const QString &text);
// "All", "Running", "Stopped": what the segments show.
QString segmentLabel(ServiceFilter filter);
