#pragma once

#include "records/ServiceRunRecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The open run of a running service; becomes a ServiceRunRecord when it ends.
// Its environment already carries the mask for every secret value.
struct ActiveRunDraft {
    QUuid id;
    QUuid serviceId;
    QDateTime startedAt;
    std::optional<qint32> pid;
    double peakCpuPercent = 0;
    quint64 peakMemoryBytes = 0;
    std::optional<QString> environmentProfileName;
    std::optional<QUuid> environmentProfileId;
    QList<ServiceRunEnvironmentEntry> environment;
    std::optional<ServiceRunSecurityScan> securityScan;

    // The record of this run as it ends; the output is taken as given (the caller cuts it).
    ServiceRunRecord record(const QDateTime &endedAt, ServiceRunStopReason stopReason, std::optional<qint32> exitCode,
                            const QString &output) const;

    friend bool operator==(const ActiveRunDraft &, const ActiveRunDraft &) = default;
};

size_t qHash(const ActiveRunDraft &draft, size_t seed = 0);
