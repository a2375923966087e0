#pragma once

#include "execution/CommandThreatApproval.h"
#include "platform/SensitiveBytes.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/ManagedService.h"
#include "ui/launch/CommandThreatReviewRequest.h"
#include "ui/launch/SudoLaunchAction.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <QCoroTask>
#include <QString>
#include <QUuid>

#include <optional>

class EnvironmentProfilesManager;
class ServiceManager;

// The road from a click on Start or Restart to the launch, shared by the
// Services screen and the tray panel:
//
//   protected access -> launch check -> [threat review] -> [sudo password] -> start/restart
//
// `prepare` walks the road up to the first point where the user must answer
// and says where it stopped; the caller shows its own prompt for that and,
// once answered, calls `prepare` again (after "Run Anyway", with
// `approvalFor(request)`) or `perform` (after the sudo prompt, or when
// `prepare` says the launch may go ahead). Every step awaits the service
// manager, which repeats its own checks inside start and restart.
//
// Errors: `prepare` turns the two threat-scan refusals into a review step and
// throws every other failure unchanged (a cancelled authentication is a
// ProtectedProfilesError::Case::authenticationCanceled, a keyring failure a
// KeychainError, a missing command a ServiceManagerError, and so is a sudo
// helper that may not run, found before the password is asked for); `perform`
// throws whatever start or restart throws. Callers decide how to show them.
//
// The service and profile managers must outlive the tasks; a manager that is destroyed
// while `prepare` waits for authentication ends it with Step::Kind::none.
namespace ServiceLaunchFlow {

struct Step {
    enum class Kind {
        none,         // nothing left to do (the manager went away)
        launch,       // call perform(service.id, action, no password, approval)
        threatReview, // show `review`
        sudoPassword, // show `sudo`
    };
    Kind kind = Kind::none;
    // The record as protected access returned it (migrated, profile unlocked).
    std::optional<ManagedService> service;
    std::optional<CommandThreatReviewRequest> review;
    std::optional<SudoPasswordRequest> sudo;
};

// The profile's name as the unlock prompt shows it, "Protected Profile" when
// the service names no profile or the profile is gone.
QString protectedProfileDisplayName(const EnvironmentProfilesManager &profiles, const ManagedService &service);
// "… to launch “<service>”", for Start and Restart.
ProtectedUnlockReason launchReason(const EnvironmentProfilesManager &profiles, const ManagedService &service);
// "… used by “<service>”", for Unlock, Migrate and the selection of a locked service.
ProtectedUnlockReason serviceUnlockReason(const EnvironmentProfilesManager &profiles, const ManagedService &service);

// The approval that "Run Anyway" gives for the reviewed command.
CommandThreatApproval approvalFor(const CommandThreatReviewRequest &request);

// Protected access, the launch check and the sudo test for `service` as the
// caller last saw it. A review step carries `service`'s id and name; a sudo
// step the current record's, with `approval` kept for the launch.
QCoro::Task<Step> prepare(ServiceManager &manager, const EnvironmentProfilesManager &profiles, ManagedService service,
                          SudoLaunchAction action, std::optional<CommandThreatApproval> approval);

// ServiceManager::start or ::restart, by `action`.
QCoro::Task<> perform(ServiceManager &manager, QUuid serviceId, SudoLaunchAction action,
                      SharedSensitiveBytes sudoPassword, std::optional<CommandThreatApproval> approval);

} // namespace ServiceLaunchFlow
