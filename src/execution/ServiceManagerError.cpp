#include "execution/ServiceManagerError.h"

namespace {
QString describe(ServiceManagerError::Case errorCase, const QString &detail)
{
    using Case = ServiceManagerError::Case;
    switch (errorCase) {
    case Case::invalidEnvironmentKey:
        return QStringLiteral("Invalid environment variable key \u201C") + detail + QStringLiteral("\u201D.");
    case Case::commandThreatReviewRequired:
        return QStringLiteral("Review the detected command security findings before launching this service.");
    case Case::commandThreatBlocked:
        return QStringLiteral("Velmora blocked a command that matched a critical destructive pattern.");
    case Case::launchFailed:
        return QStringLiteral("Failed to launch: ") + detail;
    case Case::alreadyRunning:
        return QStringLiteral("Service is already running.");
    case Case::editingRunningService:
        return QStringLiteral("Stop the service before editing it.");
    case Case::notRunning:
        return QStringLiteral("Service is not running.");
    case Case::missingCommand:
        return QStringLiteral("No shell command was provided for this service.");
    }
    return {};
}
} // namespace

ServiceManagerError::ServiceManagerError(Case errorCase, QString detail, CommandThreatAssessment assessment)
    : std::runtime_error(describe(errorCase, detail).toStdString()),
      m_case(errorCase),
      m_detail(std::move(detail)),
      m_assessment(std::move(assessment))
{}

ServiceManagerError ServiceManagerError::invalidEnvironmentKey(const QString &key)
{
    return ServiceManagerError(Case::invalidEnvironmentKey, key);
}

ServiceManagerError ServiceManagerError::commandThreatReviewRequired(const CommandThreatAssessment &assessment)
{
    return ServiceManagerError(Case::commandThreatReviewRequired, QString(), assessment);
}

ServiceManagerError ServiceManagerError::commandThreatBlocked(const CommandThreatAssessment &assessment)
{
    return ServiceManagerError(Case::commandThreatBlocked, QString(), assessment);
}

ServiceManagerError ServiceManagerError::launchFailed(const QString &message)
{
    return ServiceManagerError(Case::launchFailed, message);
}

QString ServiceManagerError::message() const
{
    return describe(m_case, m_detail);
}
