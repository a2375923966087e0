#include "ui/screens/services/ServiceRunHistoryRowOutcome.h"

ServiceRunOutcomeColor outcomeColor(const ServiceRunRecord &record)
{
    switch (record.stopReason) {
    case ServiceRunStopReason::exited:
        return record.exitCode.value_or(0) == 0 ? ServiceRunOutcomeColor::green : ServiceRunOutcomeColor::red;
    case ServiceRunStopReason::stopped:
        return ServiceRunOutcomeColor::slate;
    case ServiceRunStopReason::forceKilled:
        return ServiceRunOutcomeColor::red;
    case ServiceRunStopReason::unexpected:
        return ServiceRunOutcomeColor::orange;
    case ServiceRunStopReason::securityBlocked:
        return ServiceRunOutcomeColor::red;
    }
    return ServiceRunOutcomeColor::slate;
}

QString outcomeLabel(const ServiceRunRecord &record)
{
    switch (record.stopReason) {
    case ServiceRunStopReason::exited:
        return QStringLiteral("Exited");
    case ServiceRunStopReason::stopped:
        return QStringLiteral("Stopped");
    case ServiceRunStopReason::forceKilled:
        return QStringLiteral("Force killed");
    case ServiceRunStopReason::unexpected:
        return QStringLiteral("Ended unexpectedly");
    case ServiceRunStopReason::securityBlocked:
        return QStringLiteral("Blocked");
    }
    return {};
}

QString securityWarningCountText(qsizetype findingCount)
{
    return QString::number(findingCount) + QStringLiteral(" warning")
           + (findingCount == 1 ? QString() : QStringLiteral("s"));
}
