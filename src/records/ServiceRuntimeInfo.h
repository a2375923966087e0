#pragma once

#include <QHash>
#include <QString>
#include <QUuid>

#include <optional>

enum class ServiceLifecycleState { running, stopped, notResponding };

QString toText(ServiceLifecycleState state);
std::optional<ServiceLifecycleState> serviceLifecycleStateFromText(const QString &text);

// The live state of one service; never stored.
struct ServiceRuntimeInfo {
    QUuid serviceId;
    ServiceLifecycleState state = ServiceLifecycleState::stopped;
    std::optional<qint32> pid;
    double cpuPercent = 0;
    quint64 memoryBytes = 0;
    std::optional<double> uptime;
    QString processOutput;

    const QUuid &id() const { return serviceId; }

    // A service that is not running: no pid, no load, no uptime, no output.
    static ServiceRuntimeInfo fresh(const QUuid &serviceId);
    // Drops the live figures of a run that is over; the output is the caller's to keep or clear.
    void markStopped();

    friend bool operator==(const ServiceRuntimeInfo &, const ServiceRuntimeInfo &) = default;
};

size_t qHash(const ServiceRuntimeInfo &info, size_t seed = 0);
