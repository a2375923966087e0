#pragma once

#include "execution/CommandThreatApproval.h"
#include "execution/CommandThreatAssessment.h"
#include "execution/ProcessLaunchConfiguration.h"
#include "execution/SettingsBridge.h"
#include "execution/SudoHelper.h"
#include "execution/SudoWrapper.h"
#include "platform/WrapperSudo.h"
#include "platform/SensitiveBytes.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/ManagedService.h"

#include <QCoroTask>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class EnvironmentProfilesManager;
class SudoPasswordResponder;

// Everything a start settles before a child is launched: the command's threat
// assessment, the unlock reason a protected profile is opened with, the
// environment and shell, and for a command that calls sudo the wrapper and the
// responder that types the password. Main thread.
class ServiceLaunchPreparation {
public:
    // What an in-application launch runs, and who answers its sudo prompt
    // (none when the command needs no password).
    struct InApplicationLaunch {
        ProcessLaunchConfiguration configuration;
        std::shared_ptr<SudoPasswordResponder> responder;
    };

    // The profiles manager must outlive the preparation.
    ServiceLaunchPreparation(EnvironmentProfilesManager &environmentProfilesManager,
                             SettingsBridge::Provider settingsProvider);

    ProtectedUnlockReason launchReason(const ManagedService &service) const;

    // The scanner's findings on the command; missingCommand for a blank one.
    static CommandThreatAssessment assess(const ManagedService &service);
    // commandThreatReviewRequired unless the findings are none or approved as they are.
    static void requireApproval(const CommandThreatAssessment &assessment,
                                const std::optional<CommandThreatApproval> &approval);
    // Whether a launch of the service can feed a password to sudo's prompt:
    // only an in-application one of a command that calls sudo can.
    static bool needsSudoPassword(const ManagedService &service);

    // The service's environment with its profile's variables resolved; the
    // profiles manager, not the preparation, must live until it completes.
    QCoro::Task<QMap<QString, QString>> resolvedEnvironment(const ManagedService &service) const;
    // The login shell the settings name right now.
    QString shellPath() const;

    // A login shell in a pseudo-terminal in the home folder, or the sudo
    // wrapper when the command calls sudo and a password is given; that one
    // throws launchFailed, before anything runs, unless the first of
    // `helperCandidates` found passes SudoHelper's check. The responder
    // forgets the password after its lifetime.
    static InApplicationLaunch
    inApplicationLaunch(const ManagedService &service, const QMap<QString, QString> &environment,
                        const QString &shellPath, const SensitiveBytes *sudoPassword,
                        const QString &sudoPath = SudoWrapper::sudoPath,
                        WrapperSudo::SetUidCheck isSetUidSudo = WrapperSudo::systemSetUidCheck(),
                        const QStringList &helperCandidates = SudoHelper::candidates());

private:
    EnvironmentProfilesManager &m_environmentProfilesManager;
    SettingsBridge::Provider m_settingsProvider;
};
