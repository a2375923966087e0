#include "execution/ServiceLaunchPreparation.h"

#include "execution/CommandThreatScanner.h"
#include "execution/ServiceManagerError.h"
#include "execution/SudoHelper.h"
#include "execution/SudoPasswordResponder.h"
#include "execution/SudoWrapper.h"
#include "profiles/EnvironmentProfilesManager.h"

#include <QDir>

#include <utility>

ServiceLaunchPreparation::ServiceLaunchPreparation(EnvironmentProfilesManager &environmentProfilesManager,
                                                   SettingsBridge::Provider settingsProvider)
    : m_environmentProfilesManager(environmentProfilesManager),
      m_settingsProvider(settingsProvider ? std::move(settingsProvider) : SettingsBridge().provider())
{}

ProtectedUnlockReason ServiceLaunchPreparation::launchReason(const ManagedService &service) const
{
    const std::optional<EnvironmentProfile> profile =
        m_environmentProfilesManager.profile(service.environmentProfileId);
    return ProtectedUnlockReason::launchService(service.name,
                                                profile ? profile->name : QStringLiteral("Protected Profile"));
}

CommandThreatAssessment ServiceLaunchPreparation::assess(const ManagedService &service)
{
    if (service.command.trimmed().isEmpty())
        throw ServiceManagerError::missingCommand();
    return CommandThreatScanner::assess(service.command);
}

void ServiceLaunchPreparation::requireApproval(const CommandThreatAssessment &assessment,
                                               const std::optional<CommandThreatApproval> &approval)
{
    if (assessment.findings.isEmpty())
        return;
    if (approval && approval->matches(assessment))
        return;
    throw ServiceManagerError::commandThreatReviewRequired(assessment);
}

bool ServiceLaunchPreparation::needsSudoPassword(const ManagedService &service)
{
    return !service.openInTerminal && commandCallsSudo(service.command);
}

QCoro::Task<QMap<QString, QString>> ServiceLaunchPreparation::resolvedEnvironment(const ManagedService &service) const
{
    return m_environmentProfilesManager.resolvedEnvironment(service.environmentProfileId, service.name);
}

QString ServiceLaunchPreparation::shellPath() const
{
    return m_settingsProvider().defaultShell;
}

ServiceLaunchPreparation::InApplicationLaunch
ServiceLaunchPreparation::inApplicationLaunch(const ManagedService &service, const QMap<QString, QString> &environment,
                                              const QString &shellPath, const SensitiveBytes *sudoPassword,
                                              const QString &sudoPath, WrapperSudo::SetUidCheck isSetUidSudo,
                                              const QStringList &helperCandidates)
{
    const std::optional<QString> prompt = makeSudoPrompt(service.command, sudoPassword && !sudoPassword->isEmpty());
    const QString home = QDir::homePath();
    InApplicationLaunch launch;
    QString wrapperCommandLine;
    if (prompt && !prompt->isEmpty()) {
        const QString helper = SudoHelper::require(helperCandidates);
        SudoLaunch sudo =
            makeSudoLaunchConfiguration(shellPath, service.command, *prompt, environment, home, helper, sudoPath);
        launch.configuration = std::move(sudo.configuration);
        wrapperCommandLine = sudo.wrapperCommandLine;
    } else {
        launch.configuration.rawCommand = service.command;
        launch.configuration.useShell = true;
        launch.configuration.workingDirectory = home;
        launch.configuration.environment = environment;
        launch.configuration.shellPath = shellPath;
        launch.configuration.usePseudoTerminal = true;
    }
    launch.responder = SudoPasswordResponder::make(sudoPassword ? sudoPassword->view() : QByteArrayView(), prompt,
                                                   wrapperCommandLine, std::move(isSetUidSudo));
    if (launch.responder)
        launch.responder->scheduleClearPassword();
    return launch;
}
