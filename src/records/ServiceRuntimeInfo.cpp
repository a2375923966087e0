#include "records/ServiceRuntimeInfo.h"

QString toText(ServiceLifecycleState state)
{
    switch (state) {
    case ServiceLifecycleState::running:
        return QStringLiteral("running");
    case ServiceLifecycleState::stopped:
        return QStringLiteral("stopped");
    case ServiceLifecycleState::notResponding:
        return QStringLiteral("notResponding");
    }
    return {};
}

std::optional<ServiceLifecycleState> serviceLifecycleStateFromText(const QString &text)
{
    for (auto state :
         {ServiceLifecycleState::running, ServiceLifecycleState::stopped, ServiceLifecycleState::notResponding}) {
        if (toText(state) == text)
            return state;
    }
    return std::nullopt;
}

ServiceRuntimeInfo ServiceRuntimeInfo::fresh(const QUuid &serviceId)
{
    ServiceRuntimeInfo info;
    info.serviceId = serviceId;
    return info;
}

void ServiceRuntimeInfo::markStopped()
{
    state = ServiceLifecycleState::stopped;
    pid.reset();
    cpuPercent = 0;
    memoryBytes = 0;
    uptime.reset();
}

size_t qHash(const ServiceRuntimeInfo &info, size_t seed)
{
    return qHashMulti(seed, info.serviceId, static_cast<int>(info.state), info.pid.value_or(-1), info.pid.has_value(),
                      info.cpuPercent, info.memoryBytes, info.uptime.value_or(-1.0), info.uptime.has_value(),
                      info.processOutput);
}
