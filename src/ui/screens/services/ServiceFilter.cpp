#include "ui/screens/services/ServiceFilter.h"

QList<ServiceFilter> allServiceFilters()
{
    return {ServiceFilter::all, ServiceFilter::running, ServiceFilter::stopped};
}

QString rawValue(ServiceFilter filter)
{
    switch (filter) {
    case ServiceFilter::all:
        return QStringLiteral("all");
    case ServiceFilter::running:
        return QStringLiteral("running");
    case ServiceFilter::stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

std::optional<ServiceFilter> serviceFilterFromRawValue(const QString &text)
{
    for (ServiceFilter filter : allServiceFilters()) {
        if (rawValue(filter) == text)
            return filter;
    }
    return std::nullopt;
}

QString segmentLabel(ServiceFilter filter)
{
    switch (filter) {
    case ServiceFilter::all:
        return QStringLiteral("All");
    case ServiceFilter::running:
        return QStringLiteral("Running");
    case ServiceFilter::stopped:
        return QStringLiteral("Stopped");
    }
    return {};
}
