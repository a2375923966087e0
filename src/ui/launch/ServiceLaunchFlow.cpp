#include "ui/launch/ServiceLaunchFlow.h"

#include "execution/ServiceLaunchPreparation.h"
#include "execution/ServiceManager.h"
#include "execution/ServiceManagerError.h"
#include "profiles/EnvironmentProfilesManager.h"

#include <QPointer>

namespace ServiceLaunchFlow {

namespace {

QCoro::Task<ManagedService> accessAndCheck(QPointer<ServiceManager> manager, ProtectedUnlockReason reason,
                                           ManagedService service, std::optional<CommandThreatApproval> approval,
                                           bool &managerGone)
{
    ManagedService current = co_await manager->ensureProtectedAccess(service.id, reason);
    if (!manager) {
        managerGone = true;
        co_return current;
    }
    manager->prepareLaunch(current.id, approval);
    co_return current;
}

bool isThreatRefusal(const ServiceManagerError &error)
{
    return error.errorCase() == ServiceManagerError::Case::commandThreatReviewRequired
           || error.errorCase() == ServiceManagerError::Case::commandThreatBlocked;
}

} // namespace

QString protectedProfileDisplayName(const EnvironmentProfilesManager &profiles, const ManagedService &service)
{
    if (const std::optional<EnvironmentProfile> profile = profiles.profile(service.environmentProfileId))
        return profile->name;
    return QStringLiteral("Protected Profile");
}

ProtectedUnlockReason launchReason(const EnvironmentProfilesManager &profiles, const ManagedService &service)
{
    return ProtectedUnlockReason::launchService(service.name, protectedProfileDisplayName(profiles, service));
}

ProtectedUnlockReason serviceUnlockReason(const EnvironmentProfilesManager &profiles, const ManagedService &service)
{
    return ProtectedUnlockReason::profileUsedBy(service.name, protectedProfileDisplayName(profiles, service));
}

CommandThreatApproval approvalFor(const CommandThreatReviewRequest &request)
{
    return CommandThreatApproval {request.assessment.commandFingerprint};
}

QCoro::Task<Step> prepare(ServiceManager &manager, const EnvironmentProfilesManager &profiles, ManagedService service,
                          SudoLaunchAction action, std::optional<CommandThreatApproval> approval)
{
    const ProtectedUnlockReason reason = launchReason(profiles, service);
    QPointer<ServiceManager> guardedManager(&manager);
    bool managerGone = false;
    std::optional<ManagedService> current;
    std::optional<CommandThreatAssessment> refusedAssessment;
    try {
        current = co_await accessAndCheck(guardedManager, reason, service, approval, managerGone);
    } catch (const ServiceManagerError &error) {
        if (!isThreatRefusal(error))
            throw;
        refusedAssessment = error.assessment();
    }
    if (managerGone || !guardedManager)
        co_return Step {};

    Step step;
    if (refusedAssessment) {
        step.kind = Step::Kind::threatReview;
        step.review = CommandThreatReviewRequest {service.id, service.name, action, *refusedAssessment};
        co_return step;
    }
    step.service = current;
    if (ServiceLaunchPreparation::needsSudoPassword(*current)) {
        // A helper that cannot run would fail the run only once sudo has the password.
        manager.requireSudoHelper();
        step.kind = Step::Kind::sudoPassword;
        step.sudo = SudoPasswordRequest {current->id, current->name, action, approval};
        co_return step;
    }
    step.kind = Step::Kind::launch;
    co_return step;
}

QCoro::Task<> perform(ServiceManager &manager, QUuid serviceId, SudoLaunchAction action,
                      SharedSensitiveBytes sudoPassword, std::optional<CommandThreatApproval> approval)
{
    if (action == SudoLaunchAction::restart)
        co_await manager.restart(serviceId, std::move(sudoPassword), std::move(approval));
    else
        co_await manager.start(serviceId, std::move(sudoPassword), std::move(approval));
}

} // namespace ServiceLaunchFlow
