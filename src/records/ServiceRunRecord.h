#pragma once

#include "records/Json.h"
#include "records/ServiceRunEnvironmentEntry.h"
#include "records/ServiceRunOutput.h"
#include "records/ServiceRunSecurityScan.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

enum class ServiceRunStopReason { exited, stopped, forceKilled, unexpected, securityBlocked };

QString toText(ServiceRunStopReason reason);
std::optional<ServiceRunStopReason> serviceRunStopReasonFromText(const QString &text);

// One finished or refused run: the element of run-history.json. Secret
// environment values are always the mask, in memory and on disk.
struct ServiceRunRecord {
    // The most output a record keeps, in user-perceived characters (its end).
    static constexpr qsizetype maximumOutputCharacters = 150000;

    QUuid id;
    QUuid serviceId;
    QDateTime startedAt;
    QDateTime endedAt;
    std::optional<qint32> pid;
    double peakCpuPercent = 0;
    quint64 peakMemoryBytes = 0;
    std::optional<QString> environmentProfileName;
    std::optional<QUuid> environmentProfileId;
    QList<ServiceRunEnvironmentEntry> environment;
    ServiceRunStopReason stopReason = ServiceRunStopReason::exited;
    std::optional<qint32> exitCode;
    ServiceRunOutput output;
    std::optional<ServiceRunSecurityScan> securityScan;

    enum class OutputReading { decode, leaveInFile };
    // "id", "serviceId", "startedAt", "endedAt" and "stopReason" are required;
    // missing peaks, environment and output take 0, empty and empty. With
    // `leaveInFile` the output is checked to be a string but not decoded.
    static ServiceRunRecord fromJson(const json::Value &value, OutputReading reading = OutputReading::decode);
    // Throws std::logic_error for a record whose output lies in the file only:
    // writing it would replace the output with nothing.
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const ServiceRunRecord &, const ServiceRunRecord &) = default;
};

size_t qHash(const ServiceRunRecord &record, size_t seed = 0);
