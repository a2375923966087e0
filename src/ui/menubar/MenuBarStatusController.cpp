#include "ui/menubar/MenuBarStatusController.h"

#include "execution/MonitoringManager.h"
#include "execution/ServiceManager.h"
#include "execution/ServiceManagerError.h"
#include "platform/KeychainError.h"
#include "platform/Logging.h"
#include "profiles/EnvironmentProfileValidationError.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ProtectedProfilesError.h"
#include "ui/launch/ServiceLaunchFlow.h"

#include <QCollator>
#include <QCoroFuture>
#include <QTimer>

#include <algorithm>

namespace {

// The text a person reads for a failure of the launch road.
QString errorDescription(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceManagerError &failure) {
        return failure.message();
    } catch (const ProtectedProfilesError &failure) {
        return failure.errorDescription();
    } catch (const KeychainError &failure) {
        return failure.errorDescription();
    } catch (const EnvironmentProfileValidationError &failure) {
        return failure.message();
    } catch (const std::exception &failure) {
        return QString::fromUtf8(failure.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool isCanceledAuthentication(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ProtectedProfilesError &failure) {
        return failure.errorCase() == ProtectedProfilesError::Case::authenticationCanceled;
    } catch (...) {
        return false;
    }
}

std::optional<CommandThreatAssessment> threatRefusal(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceManagerError &failure) {
        if (failure.errorCase() == ServiceManagerError::Case::commandThreatReviewRequired
            || failure.errorCase() == ServiceManagerError::Case::commandThreatBlocked)
            return failure.assessment();
    } catch (...) {}
    return std::nullopt;
}

QString countedServices(int count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" service") : QStringLiteral(" services"));
}

} // namespace

// The three flows of the panel's launch road. They hold the controller only
// through a QPointer: the panel may close (and its controller go) while a flow
// waits for an unlock, and the flow then finishes without writing back.
class MenuBarLaunchFlows {
public:
    using Controller = QPointer<MenuBarStatusController>;

    // A threat refusal becomes the review prompt, a cancelled unlock ends
    // quietly, every other failure is logged.
    static void handleFailure(const Controller &self, const std::exception_ptr &error, const char *logText,
                              const CommandThreatReviewRequest &reviewTemplate)
    {
        if (std::optional<CommandThreatAssessment> assessment = threatRefusal(error)) {
            if (self) {
                CommandThreatReviewRequest review = reviewTemplate;
                review.assessment = *assessment;
                self->setCommandThreatRequest(review);
            }
            return;
        }
        if (isCanceledAuthentication(error))
            return;
        qCCritical(lcGeneral, logText, qUtf8Printable(errorDescription(error)));
    }

    // Shows the prompt a prepared step asks for, or launches.
    static QCoro::Task<> follow(Controller self, QPointer<ServiceManager> manager, ServiceLaunchFlow::Step step,
                                std::optional<CommandThreatApproval> approval)
    {
        switch (step.kind) {
        case ServiceLaunchFlow::Step::Kind::none:
            co_return;
        case ServiceLaunchFlow::Step::Kind::threatReview:
            if (self)
                self->setCommandThreatRequest(step.review);
            co_return;
        case ServiceLaunchFlow::Step::Kind::sudoPassword:
            if (self)
                self->setSudoRequest(step.sudo);
            co_return;
        case ServiceLaunchFlow::Step::Kind::launch:
            if (manager)
                co_await manager->start(step.service->id, nullptr, approval);
            co_return;
        }
    }

    static QCoro::Task<> toggle(Controller self, QPointer<ServiceManager> manager,
                                QPointer<EnvironmentProfilesManager> profiles, ManagedService service)
    {
        const CommandThreatReviewRequest reviewTemplate {service.id, service.name, SudoLaunchAction::start, {}};
        std::exception_ptr failure;
        try {
            if (!manager || !profiles)
                co_return;
            const auto entry = manager->runtime().constFind(service.id);
            if (entry != manager->runtime().cend() && entry->state == ServiceLifecycleState::running) {
                co_await manager->stop(service.id, false);
                co_return;
            }
            ServiceLaunchFlow::Step step = co_await ServiceLaunchFlow::prepare(*manager, *profiles, service,
                                                                               SudoLaunchAction::start, std::nullopt);
            co_await follow(self, manager, std::move(step), std::nullopt);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            handleFailure(self, failure, "Menu bar toggle failed: %s", reviewTemplate);
    }

    static QCoro::Task<> afterReview(Controller self, QPointer<ServiceManager> manager,
                                     QPointer<EnvironmentProfilesManager> profiles, CommandThreatReviewRequest request)
    {
        CommandThreatReviewRequest reviewTemplate = request;
        std::exception_ptr failure;
        try {
            if (!manager || !profiles)
                co_return;
            const std::optional<ManagedService> service = manager->service(request.serviceId);
            if (!service)
                throw ServiceManagerError::launchFailed(QStringLiteral("Service no longer exists."));
            const CommandThreatApproval approval = ServiceLaunchFlow::approvalFor(request);
            ServiceLaunchFlow::Step step =
                co_await ServiceLaunchFlow::prepare(*manager, *profiles, *service, request.action, approval);
            if (step.review) {
                // The prompt comes back as the user reviewed it, with the new findings.
                step.review->serviceId = request.serviceId;
                step.review->serviceName = request.serviceName;
                step.review->action = request.action;
            }
            co_await follow(self, manager, std::move(step), approval);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            handleFailure(self, failure, "Menu bar launch after security review failed: %s", reviewTemplate);
    }

    static QCoro::Task<> submitSudo(Controller self, QPointer<ServiceManager> manager, SharedSensitiveBytes password,
                                    SudoPasswordRequest request)
    {
        std::optional<QString> error;
        try {
            if (!manager)
                co_return;
            co_await ServiceLaunchFlow::perform(*manager, request.serviceId, request.action,
                                                std::exchange(password, {}), request.commandThreatApproval);
        } catch (...) {
            error = errorDescription(std::current_exception());
        }
        if (!error) {
            if (self) {
                self->setSudoRequest(std::nullopt);
                self->setSudoErrorMessage(std::nullopt);
            }
            co_return;
        }
        if (self)
            self->setSudoErrorMessage(*error);
        qCCritical(lcGeneral, "Menu bar sudo launch failed: %s", qUtf8Printable(*error));
    }
};

MenuBarStatusController::MenuBarStatusController(ServiceManager *serviceManager,
                                                 EnvironmentProfilesManager *profilesManager,
                                                 ProtectedProfilesLockManager *lockManager,
                                                 MonitoringManager *monitoringManager, QObject *parent)
    : QObject(parent),
      m_serviceManager(serviceManager),
      m_profilesManager(profilesManager),
      m_lockManager(lockManager),
      m_monitoringManager(monitoringManager)
{
    if (m_serviceManager) {
        connect(m_serviceManager, &ServiceManager::servicesChanged, this,
                &MenuBarStatusController::onServicesOrRuntimeChanged);
        connect(m_serviceManager, &ServiceManager::runtimeChanged, this,
                &MenuBarStatusController::onServicesOrRuntimeChanged);
        connect(m_serviceManager, &ServiceManager::legacyEncryptedServiceIDsChanged, this,
                &MenuBarStatusController::servicesStateChanged);
    }
    if (m_profilesManager) {
        connect(m_profilesManager, &EnvironmentProfilesManager::profilesChanged, this,
                &MenuBarStatusController::servicesStateChanged);
        connect(m_profilesManager, &EnvironmentProfilesManager::lockedProfileIDsChanged, this,
                &MenuBarStatusController::servicesStateChanged);
        connect(m_profilesManager, &EnvironmentProfilesManager::keychainAccessGuidanceChanged, this, [this] {
            Q_EMIT keychainAccessGuidanceChanged();
            scheduleContentSizeReport();
        });
    }
    if (m_monitoringManager)
        connect(m_monitoringManager, &MonitoringManager::systemMetricsChanged, this,
                &MenuBarStatusController::systemMetricsChanged);
    if (m_lockManager)
        connect(m_lockManager, &ProtectedProfilesLockManager::isUnlockedChanged, this,
                &MenuBarStatusController::isUnlockedChanged);
    m_lastRunningCount = runningServiceCount();
    m_lastListShape = listShapeSignature();
}

bool MenuBarStatusController::hasServices() const
{
    const ServiceManager *manager = m_serviceManager.data();
    return manager != nullptr && !manager->services().isEmpty();
}

SystemMetrics MenuBarStatusController::systemMetrics() const
{
    const MonitoringManager *monitoring = m_monitoringManager.data();
    return monitoring != nullptr ? monitoring->systemMetrics() : SystemMetrics();
}

std::optional<QString> MenuBarStatusController::keychainAccessGuidance() const
{
    const EnvironmentProfilesManager *profiles = m_profilesManager.data();
    return profiles != nullptr ? profiles->keychainAccessGuidance() : std::nullopt;
}

bool MenuBarStatusController::isUnlocked() const
{
    const ProtectedProfilesLockManager *manager = m_lockManager.data();
    return manager != nullptr && manager->isUnlocked();
}

void MenuBarStatusController::lockProtectedProfiles()
{
    if (ProtectedProfilesLockManager *manager = m_lockManager.data())
        manager->lock();
}

void MenuBarStatusController::setApplicationReady(bool ready)
{
    if (m_applicationReady == ready)
        return;
    m_applicationReady = ready;
    Q_EMIT applicationReadyChanged(ready);
    scheduleContentSizeReport();
}

MenuBarStatusController::Mode MenuBarStatusController::mode() const
{
    if (m_isConfirmingQuit)
        return Mode::quitConfirmation;
    if (m_commandThreatRequest)
        return Mode::threatReview;
    if (m_sudoRequest)
        return Mode::sudoPrompt;
    return Mode::services;
}

int MenuBarStatusController::runningServiceCount() const
{
    const ServiceManager *manager = m_serviceManager.data();
    if (!manager)
        return 0;
    const auto &runtime = manager->runtime();
    return int(std::count_if(runtime.cbegin(), runtime.cend(), [](const ServiceRuntimeInfo &info) {
        return info.state == ServiceLifecycleState::running;
    }));
}

QList<ManagedService> MenuBarStatusController::menuServices() const
{
    const ServiceManager *manager = m_serviceManager.data();
    if (!manager)
        return {};
    QList<ManagedService> services = manager->services();
    const auto &runtime = manager->runtime();
    auto isRunning = [&runtime](const ManagedService &service) {
        const auto entry = runtime.constFind(service.id);
        return entry != runtime.cend() && entry->state == ServiceLifecycleState::running;
    };
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(services.begin(), services.end(), [&](const ManagedService &a, const ManagedService &b) {
        const bool aRuns = isRunning(a);
        if (aRuns != isRunning(b))
            return aRuns;
        return collator.compare(a.name, b.name) < 0;
    });
    if (services.size() > maximumListedServices)
        services.resize(maximumListedServices);
    return services;
}

int MenuBarStatusController::hiddenServiceCount() const
{
    const ServiceManager *manager = m_serviceManager.data();
    if (!manager)
        return 0;
    return std::max(0, int(manager->services().size()) - maximumListedServices);
}

bool MenuBarStatusController::hasProtectedProfiles() const
{
    const EnvironmentProfilesManager *profiles = m_profilesManager.data();
    if (!profiles)
        return false;
    const auto &list = profiles->profiles();
    return std::any_of(list.cbegin(), list.cend(),
                       [](const EnvironmentProfile &profile) { return profile.isProtected; });
}

QString MenuBarStatusController::statusText() const
{
    const ServiceManager *manager = m_serviceManager.data();
    const int total = m_serviceManager ? int(manager->services().size()) : 0;
    if (total == 0)
        return QStringLiteral("No services");
    return countedServices(runningServiceCount()) + QStringLiteral(" running · ") + countedServices(total)
           + QStringLiteral(" total");
}

ServiceRuntimeInfo MenuBarStatusController::runtimeOf(const QUuid &serviceId) const
{
    const ServiceManager *manager = m_serviceManager.data();
    if (m_serviceManager) {
        const auto entry = manager->runtime().constFind(serviceId);
        if (entry != manager->runtime().cend())
            return *entry;
    }
    return ServiceRuntimeInfo::fresh(serviceId);
}

QString MenuBarStatusController::markerSymbol(const ManagedService &service) const
{
    const EnvironmentProfilesManager *profiles = m_profilesManager.data();
    const ServiceManager *manager = m_serviceManager.data();
    if (manager && manager->legacyEncryptedServiceIDs().contains(service.id))
        return QStringLiteral("arrow.triangle.2.circlepath");
    if (!profiles)
        return {};
    const std::optional<EnvironmentProfile> profile = profiles->profile(service.environmentProfileId);
    if (!profile || !profile->isProtected)
        return {};
    return profiles->lockedProfileIDs().contains(profile->id) ? QStringLiteral("lock.fill")
                                                              : QStringLiteral("lock.open.fill");
}

void MenuBarStatusController::openApp()
{
    Q_EMIT openAppRequested();
}

void MenuBarStatusController::openServices()
{
    Q_EMIT openServicesRequested();
}

void MenuBarStatusController::openService(const QUuid &serviceId)
{
    Q_EMIT openServiceRequested(serviceId);
}

void MenuBarStatusController::beginQuitConfirmation()
{
    setConfirmingQuit(true);
}

void MenuBarStatusController::cancelQuitConfirmation()
{
    setConfirmingQuit(false);
}

void MenuBarStatusController::quit()
{
    Q_EMIT quitRequested();
}

void MenuBarStatusController::cancelReview()
{
    setCommandThreatRequest(std::nullopt);
}

void MenuBarStatusController::cancelSudoPrompt()
{
    setSudoRequest(std::nullopt);
    setSudoErrorMessage(std::nullopt);
}

void MenuBarStatusController::runAnywayAfterReview(const CommandThreatReviewRequest &request)
{
    setCommandThreatRequest(std::nullopt);
    launchAfterReview(request);
}

void MenuBarStatusController::retryKeychainAccess()
{
    if (m_profilesManager)
        m_profilesManager->reload();
}

QCoro::Task<> MenuBarStatusController::toggleService(ManagedService service)
{
    return MenuBarLaunchFlows::toggle(this, m_serviceManager, m_profilesManager, std::move(service));
}

QCoro::Task<> MenuBarStatusController::launchAfterReview(CommandThreatReviewRequest request)
{
    return MenuBarLaunchFlows::afterReview(this, m_serviceManager, m_profilesManager, std::move(request));
}

QCoro::Task<> MenuBarStatusController::submitSudoPassword(SharedSensitiveBytes password, SudoPasswordRequest request)
{
    return MenuBarLaunchFlows::submitSudo(this, m_serviceManager, std::move(password), std::move(request));
}

void MenuBarStatusController::setConfirmingQuit(bool confirming)
{
    if (m_isConfirmingQuit == confirming)
        return;
    m_isConfirmingQuit = confirming;
    Q_EMIT promptStateChanged();
    scheduleContentSizeReport();
}

void MenuBarStatusController::setSudoRequest(std::optional<SudoPasswordRequest> request)
{
    if (m_sudoRequest == request)
        return;
    m_sudoRequest = std::move(request);
    // A new prompt (or none) starts without the last one's error.
    m_sudoErrorMessage.reset();
    Q_EMIT promptStateChanged();
    scheduleContentSizeReport();
}

void MenuBarStatusController::setSudoErrorMessage(std::optional<QString> message)
{
    if (m_sudoErrorMessage == message)
        return;
    m_sudoErrorMessage = std::move(message);
    Q_EMIT promptStateChanged();
    scheduleContentSizeReport();
}

void MenuBarStatusController::setCommandThreatRequest(std::optional<CommandThreatReviewRequest> request)
{
    if (m_commandThreatRequest == request)
        return;
    m_commandThreatRequest = std::move(request);
    Q_EMIT promptStateChanged();
    scheduleContentSizeReport();
}

void MenuBarStatusController::onServicesOrRuntimeChanged()
{
    Q_EMIT servicesStateChanged();
    // Rows that come, go or start showing their usage line change the height
    // as much as the running count does.
    const int running = runningServiceCount();
    QString shape = listShapeSignature();
    if (running != m_lastRunningCount || shape != m_lastListShape) {
        m_lastRunningCount = running;
        m_lastListShape = std::move(shape);
        scheduleContentSizeReport();
    }
}

void MenuBarStatusController::scheduleContentSizeReport()
{
    QTimer::singleShot(0, this, &MenuBarStatusController::contentSizeMayHaveChanged);
}

QString MenuBarStatusController::listShapeSignature() const
{
    QString signature = QString::number(hiddenServiceCount());
    for (const ManagedService &service : menuServices()) {
        signature += QLatin1Char(';') + service.id.toString(QUuid::WithoutBraces);
        if (runtimeOf(service.id).state == ServiceLifecycleState::running)
            signature += QLatin1Char('+');
    }
    return signature;
}
