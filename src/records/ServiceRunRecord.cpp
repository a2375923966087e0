#include "records/ServiceRunRecord.h"

#include <stdexcept>

QString toText(ServiceRunStopReason reason)
{
    switch (reason) {
    case ServiceRunStopReason::exited:
        return QStringLiteral("exited");
    case ServiceRunStopReason::stopped:
        return QStringLiteral("stopped");
    case ServiceRunStopReason::forceKilled:
        return QStringLiteral("forceKilled");
    case ServiceRunStopReason::unexpected:
        return QStringLiteral("unexpected");
    case ServiceRunStopReason::securityBlocked:
        return QStringLiteral("securityBlocked");
    }
    return {};
}

std::optional<ServiceRunStopReason> serviceRunStopReasonFromText(const QString &text)
{
    for (auto reason : {ServiceRunStopReason::exited, ServiceRunStopReason::stopped, ServiceRunStopReason::forceKilled,
                        ServiceRunStopReason::unexpected, ServiceRunStopReason::securityBlocked}) {
        if (toText(reason) == text)
            return reason;
    }
    return std::nullopt;
}

ServiceRunRecord ServiceRunRecord::fromJson(const json::Value &value, OutputReading reading)
{
    const json::ObjectReader reader(value, "ServiceRunRecord");
    ServiceRunRecord record;
    record.id = reader.uuid("id");
    record.serviceId = reader.uuid("serviceId");
    record.startedAt = reader.date("startedAt");
    record.endedAt = reader.date("endedAt");
    record.pid = reader.optionalInt32("pid");
    record.peakCpuPercent = reader.optionalNumber("peakCpuPercent").value_or(0.0);
    record.peakMemoryBytes = reader.optionalUInt64("peakMemoryBytes").value_or(0);
    record.environmentProfileName = reader.optionalString("environmentProfileName");
    record.environmentProfileId = reader.optionalUuid("environmentProfileId");
    if (auto environment = reader.optionalList("environment", ServiceRunEnvironmentEntry::fromJson))
        record.environment = std::move(*environment);
    const QString reasonText = reader.string("stopReason");
    const auto reason = serviceRunStopReasonFromText(reasonText);
    if (!reason)
        throw json::DecodeError(QStringLiteral("Cannot initialize ServiceRunStopReason from invalid value “%1”.")
                                    .arg(json::excerpt(reasonText)));
    record.stopReason = *reason;
    record.exitCode = reader.optionalInt32("exitCode");
    if (reading == OutputReading::decode) {
        record.output = reader.optionalString("output").value_or(QString());
    } else if (const json::Value *output = reader.find("output")) {
        if (!output->IsString())
            json::readString(*output, reader.where("output"));
        record.output = ServiceRunOutput::inFile(output->GetStringLength() == 0);
    }
    if (const json::Value *scan = reader.find("securityScan"))
        record.securityScan = ServiceRunSecurityScan::fromJson(*scan);
    return record;
}

json::Value ServiceRunRecord::toJson(json::Allocator &allocator) const
{
    if (!output.isHeld())
        throw std::logic_error("A run record whose output lies in the history file cannot be encoded.");
    json::ObjectWriter writer(allocator);
    writer.set("id", id)
        .set("serviceId", serviceId)
        .set("startedAt", startedAt)
        .set("endedAt", endedAt)
        .setOptional("pid", pid)
        .set("peakCpuPercent", peakCpuPercent)
        .set("peakMemoryBytes", peakMemoryBytes)
        .setOptional("environmentProfileName", environmentProfileName)
        .setOptional("environmentProfileId", environmentProfileId)
        .set("environment", json::makeList(environment, allocator,
                                           [](const ServiceRunEnvironmentEntry &entry, json::Allocator &a) {
                                               return entry.toJson(a);
                                           }))
        .set("stopReason", toText(stopReason))
        .setOptional("exitCode", exitCode)
        .set("output", output.text());
    if (securityScan)
        writer.set("securityScan", securityScan->toJson(allocator));
    return writer.take();
}

size_t qHash(const ServiceRunRecord &record, size_t seed)
{
    return qHashMulti(seed, record.id, record.serviceId, record.startedAt, record.endedAt, record.pid.value_or(0),
                      record.pid.has_value(), record.peakCpuPercent, record.peakMemoryBytes,
                      record.environmentProfileName.value_or(QString()), record.environmentProfileName.has_value(),
                      record.environmentProfileId.value_or(QUuid()), record.environmentProfileId.has_value(),
                      record.environment, static_cast<int>(record.stopReason), record.exitCode.value_or(0),
                      record.exitCode.has_value(), record.output,
                      record.securityScan ? qHash(*record.securityScan) : size_t(0), record.securityScan.has_value());
}
