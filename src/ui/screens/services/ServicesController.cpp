#include "ui/screens/services/ServicesController.h"

#include "execution/ServiceManager.h"
#include "execution/ServiceManagerError.h"
#include "platform/Logging.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/ServiceRunHistoryManager.h"
#include "ui/components/Attempt.h"
#include "ui/components/NameRule.h"
#include "ui/components/SearchRelevance.h"
#include "ui/launch/ServiceLaunchFlow.h"

#include <QCollator>
#include <QCoroFuture>
#include <QDateTime>
#include <QLocale>
#include <QPointer>

#include <algorithm>

namespace {

// Stores the value and tells whether it differed from the one held before.
template <typename T>
bool assignChanged(T &held, const T &value)
{
    if (held == value)
        return false;
    held = value;
    return true;
}

QCollator nameCollator()
{
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

bool passesFilter(const ManagedService &service, const QHash<QUuid, ServiceRuntimeInfo> &runtime, ServiceFilter filter)
{
    const auto entry = runtime.constFind(service.id);
    const bool running = entry != runtime.cend() && entry->state == ServiceLifecycleState::running;
    switch (filter) {
    case ServiceFilter::all:
        return true;
    case ServiceFilter::running:
        return running;
    case ServiceFilter::stopped:
        return !running;
    }
    return true;
}

QString failureText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &failure) {
        return QString::fromUtf8(failure.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

QCoro::Task<> launchWithoutScreen(QPointer<ServiceManager> manager, QUuid serviceId, SudoLaunchAction action,
                                  std::optional<CommandThreatApproval> approval)
{
    std::exception_ptr failure;
    try {
        co_await ServiceLaunchFlow::perform(*manager, serviceId, action, nullptr, std::move(approval));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        qCWarning(lcProcess, "Launch after the Services screen closed failed: %s",
                  qUtf8Printable(failureText(failure)));
}

} // namespace

ServicesController::ServicesController(ServiceManager &serviceManager, EnvironmentProfilesManager &profilesManager,
                                       ProtectedProfilesLockManager &lockManager,
                                       ServiceRunHistoryManager &historyManager, SecurityScopedBookmarkStore *bookmarks,
                                       QObject *parent)
    : QObject(parent),
      m_serviceManager(serviceManager),
      m_profilesManager(profilesManager),
      m_lockManager(lockManager),
      m_historyManager(historyManager),
      m_bookmarks(bookmarks)
{
    relayManagerSignals();
}

void ServicesController::relayManagerSignals()
{
    ServiceManager *services = &m_serviceManager;
    connect(services, &ServiceManager::servicesChanged, this, &ServicesController::servicesChanged);
    connect(services, &ServiceManager::runtimeChanged, this, &ServicesController::runtimeChanged);
    connect(services, &ServiceManager::runtimeEntryChanged, this, &ServicesController::runtimeEntryChanged);
    connect(services, &ServiceManager::outputChanged, this, &ServicesController::outputChanged);
    connect(services, &ServiceManager::legacyEncryptedServiceIDsChanged, this, &ServicesController::locksChanged);
    EnvironmentProfilesManager *profiles = &m_profilesManager;
    connect(profiles, &EnvironmentProfilesManager::profilesChanged, this, &ServicesController::profilesChanged);
    connect(profiles, &EnvironmentProfilesManager::lockedProfileIDsChanged, this, &ServicesController::locksChanged);
    connect(profiles, &EnvironmentProfilesManager::keychainAccessGuidanceChanged, this,
            &ServicesController::keychainAccessGuidanceChanged);
    connect(&m_lockManager, &ProtectedProfilesLockManager::isUnlockedChanged, this,
            &ServicesController::isUnlockedChanged);
    ServiceRunHistoryManager *history = &m_historyManager;
    connect(history, &ServiceRunHistoryManager::recordsChanged, this, &ServicesController::runRecordsChanged);
    connect(history, &ServiceRunHistoryManager::latestAddedRecordIDChanged, this,
            &ServicesController::latestAddedRunRecordIDChanged);
    connect(history, &ServiceRunHistoryManager::writeFailed, this,
            [this](const QString &message) { setErrorMessage(message); });
}

const QList<ManagedService> &ServicesController::services() const
{
    return m_serviceManager.services();
}

const QList<EnvironmentProfile> &ServicesController::profiles() const
{
    return m_profilesManager.profiles();
}

std::optional<QString> ServicesController::profileName(const ManagedService &service) const
{
    const std::optional<EnvironmentProfile> profile = m_profilesManager.profile(service.environmentProfileId);
    return profile ? std::optional<QString>(NameRule::oneLine(profile->name)) : std::nullopt;
}

const std::optional<QString> &ServicesController::keychainAccessGuidance() const
{
    return m_profilesManager.keychainAccessGuidance();
}

bool ServicesController::isUnlocked() const
{
    return m_lockManager.isUnlocked();
}

QList<ServiceRunRecord> ServicesController::runRecords(const QUuid &serviceId) const
{
    return m_historyManager.records(serviceId);
}

std::optional<QUuid> ServicesController::latestAddedRunRecordID() const
{
    return m_historyManager.latestAddedRecordID();
}

void ServicesController::lockProtectedProfiles()
{
    m_lockManager.lock();
}

QCoro::Task<> ServicesController::deleteRunRecord(QUuid recordId)
{
    co_await m_historyManager.deleteRecord(recordId);
}

QCoro::Task<QString> ServicesController::runOutput(QUuid recordId)
{
    return m_historyManager.runOutput(recordId);
}

QCoro::Task<> ServicesController::clearRunHistory(QUuid serviceId)
{
    co_await m_historyManager.clearHistory(serviceId, false);
}

QList<ManagedService> ServicesController::visibleServices(const QList<ManagedService> &services,
                                                          const QHash<QUuid, ServiceRuntimeInfo> &runtime,
                                                          ServiceFilter filter, const QString &searchText,
                                                          const SearchScore &score)
{
    const QCollator collator = nameCollator();
    if (searchText.isEmpty()) {
        QList<ManagedService> kept;
        kept.reserve(services.size());
        for (const ManagedService &service : services) {
            if (passesFilter(service, runtime, filter))
                kept.append(service);
        }
        std::stable_sort(kept.begin(), kept.end(), [&collator](const ManagedService &a, const ManagedService &b) {
            return collator.compare(a.name, b.name) < 0;
        });
        return kept;
    }

    struct Match {
        const ManagedService *service;
        int score;
    };
    QList<Match> matches;
    for (const ManagedService &service : services) {
        if (!passesFilter(service, runtime, filter))
            continue;
        if (const std::optional<int> value = score(searchText, service.name))
            matches.append(Match {&service, *value});
    }
    std::stable_sort(matches.begin(), matches.end(), [&collator](const Match &a, const Match &b) {
        if (a.score != b.score)
            return a.score > b.score;
        return collator.compare(a.service->name, b.service->name) < 0;
    });
    QList<ManagedService> ordered;
    ordered.reserve(matches.size());
    for (const Match &match : matches)
        ordered.append(*match.service);
    return ordered;
}

QList<ManagedService> ServicesController::visibleServices() const
{
    return visibleServices(m_serviceManager.services(), m_serviceManager.runtime(), m_filter, m_searchText,
                           searchRelevanceScore);
}

bool ServicesController::hasProtectedProfiles() const
{
    const QList<EnvironmentProfile> &profiles = m_profilesManager.profiles();
    return std::any_of(profiles.cbegin(), profiles.cend(),
                       [](const EnvironmentProfile &profile) { return profile.isProtected; });
}

ServiceRuntimeInfo ServicesController::runtimeEntry(const QUuid &serviceId) const
{
    const auto entry = m_serviceManager.runtime().constFind(serviceId);
    return entry != m_serviceManager.runtime().cend() ? *entry : ServiceRuntimeInfo::fresh(serviceId);
}

const ServiceOutputPublisher::Output &ServicesController::liveOutput(const QUuid &serviceId) const
{
    return m_serviceManager.liveOutput(serviceId);
}

void ServicesController::setSearchText(const QString &text)
{
    if (assignChanged(m_searchText, text))
        Q_EMIT searchTextChanged();
}

void ServicesController::setFilter(ServiceFilter filter)
{
    if (assignChanged(m_filter, filter))
        Q_EMIT filterChanged();
}

void ServicesController::resetNavigation()
{
    setSearchText(QString());
    setFilter(ServiceFilter::all);
}

void ServicesController::setSelectedServiceID(const std::optional<QUuid> &id)
{
    if (id == m_selectedServiceID)
        return;
    m_selectedServiceID = id;
    ++m_selectionGeneration;
    Q_EMIT selectedServiceIDChanged();
    if (m_selectionPromptsActive)
        unlockSelectedServiceIfNeeded();
}

void ServicesController::setSelectionPromptsActive(bool active)
{
    if (active == m_selectionPromptsActive)
        return;
    m_selectionPromptsActive = active;
    if (active)
        unlockSelectedServiceIfNeeded();
}

std::optional<ManagedService> ServicesController::selectedService() const
{
    if (!m_selectedServiceID)
        return std::nullopt;
    return m_serviceManager.service(*m_selectedServiceID);
}

void ServicesController::dismissError()
{
    setErrorMessage(std::nullopt);
}

bool ServicesController::isLocked(const ManagedService &service) const
{
    return m_serviceManager.legacyEncryptedServiceIDs().contains(service.id);
}

bool ServicesController::isLaunchLocked(const ManagedService &service) const
{
    return m_serviceManager.usesProtectedProfile(service);
}

bool ServicesController::isEffectivelyProtected(const ManagedService &service) const
{
    const std::optional<EnvironmentProfile> profile = m_profilesManager.profile(service.environmentProfileId);
    return profile && profile->isProtected;
}

ServicesController::RowIndicator ServicesController::rowIndicator(const ManagedService &service) const
{
    if (isLocked(service))
        return {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("Unlock to migrate this service")};
    if (isEffectivelyProtected(service))
        return {isLaunchLocked(service) ? QStringLiteral("lock.fill") : QStringLiteral("lock.open.fill"), QString()};
    return {};
}

QString ServicesController::rowSubtitle(const ManagedService &service) const
{
    if (isLocked(service))
        return QStringLiteral("Unlock to migrate service");
    if (service.environmentProfileId && m_profilesManager.lockedProfileIDs().contains(*service.environmentProfileId))
        return QStringLiteral("Protected service");
    if (!service.command.isEmpty())
        return service.command;
    return QStringLiteral("No shell command");
}

void ServicesController::selectService(const ManagedService &service)
{
    if (m_selectedServiceID == service.id) {
        unlockSelectedServiceIfNeeded();
        return;
    }
    setSelectedServiceID(service.id);
}

bool ServicesController::needsUnlockOnSelection(const ManagedService &service) const
{
    return isLocked(service) || isLaunchLocked(service);
}

QCoro::Task<> ServicesController::unlockSelectedServiceIfNeeded()
{
    if (!m_selectedServiceID)
        co_return;
    const std::optional<ManagedService> service = m_serviceManager.service(*m_selectedServiceID);
    if (!service || !needsUnlockOnSelection(*service))
        co_return;

    const quint64 generation = m_selectionGeneration;
    // A selection that moved on meanwhile stands for a task that was replaced.
    co_await attempt(
        this,
        [&] {
            return m_serviceManager.ensureProtectedAccess(
                service->id, ServiceLaunchFlow::serviceUnlockReason(m_profilesManager, *service));
        },
        failureShower(KeychainErrorText::fullMessage),
        [this, generation] { return generation == m_selectionGeneration; });
}

QCoro::Task<> ServicesController::unlockService(ManagedService service)
{
    co_await requestProtectedAccess(service, ServiceLaunchFlow::serviceUnlockReason(m_profilesManager, service));
}

QCoro::Task<> ServicesController::requestProtectedAccess(ManagedService service, ProtectedUnlockReason reason)
{
    co_await attempt(
        this, [&] { return m_serviceManager.ensureProtectedAccess(service.id, std::move(reason)); },
        failureShower(KeychainErrorText::fullMessage));
}

QCoro::Task<> ServicesController::launchService(ManagedService service, SudoLaunchAction action,
                                                std::optional<CommandThreatApproval> approval)
{
    QPointer<ServiceManager> manager(&m_serviceManager);
    auto prepared = co_await attempt(
        this,
        [&] { return ServiceLaunchFlow::prepare(m_serviceManager, m_profilesManager, service, action, approval); },
        failureShower(KeychainErrorText::description));
    if (prepared.abandoned) {
        // The person answered the unlock prompt after leaving the screen: the
        // launch they asked for still happens. A review or a sudo prompt has
        // no screen left to ask in, so nothing runs unreviewed.
        if (prepared.value && prepared->kind == ServiceLaunchFlow::Step::Kind::launch && manager)
            co_await launchWithoutScreen(manager, service.id, action, approval);
        co_return;
    }
    if (!prepared)
        co_return;
    const ServiceLaunchFlow::Step &step = *prepared;
    switch (step.kind) {
    case ServiceLaunchFlow::Step::Kind::none:
        co_return;
    case ServiceLaunchFlow::Step::Kind::threatReview:
        setCommandThreatRequest(step.review);
        co_return;
    case ServiceLaunchFlow::Step::Kind::sudoPassword:
        setSudoRequest(step.sudo);
        co_return;
    case ServiceLaunchFlow::Step::Kind::launch:
        break;
    }
    co_await performLaunch(service.id, action, nullptr, approval);
}

QCoro::Task<> ServicesController::performLaunch(QUuid serviceId, SudoLaunchAction action, SharedSensitiveBytes password,
                                                std::optional<CommandThreatApproval> approval)
{
    co_await attempt(
        this,
        [&] {
            return ServiceLaunchFlow::perform(m_serviceManager, serviceId, action, std::move(password),
                                              std::move(approval));
        },
        failureShower(KeychainErrorText::fullMessage));
}

QCoro::Task<> ServicesController::runAnyway(CommandThreatReviewRequest request)
{
    setCommandThreatRequest(std::nullopt);
    const std::optional<ManagedService> service = m_serviceManager.service(request.serviceId);
    if (!service) {
        setErrorMessage(QStringLiteral("Service no longer exists."));
        co_return;
    }
    co_await launchService(*service, request.action, ServiceLaunchFlow::approvalFor(request));
}

void ServicesController::cancelThreatReview()
{
    setCommandThreatRequest(std::nullopt);
}

QCoro::Task<> ServicesController::submitSudoPassword(SudoPasswordRequest request, SharedSensitiveBytes password)
{
    setSudoRequest(std::nullopt);
    co_await performLaunch(request.serviceId, request.action, std::move(password), request.commandThreatApproval);
}

QCoro::Task<> ServicesController::launchWithoutPassword(SudoPasswordRequest request)
{
    setSudoRequest(std::nullopt);
    co_await performLaunch(request.serviceId, request.action, nullptr, request.commandThreatApproval);
}

void ServicesController::cancelSudoPrompt()
{
    setSudoRequest(std::nullopt);
}

QCoro::Task<> ServicesController::stopService(ManagedService service)
{
    co_await performStop(service.id, false);
}

QCoro::Task<> ServicesController::performStop(QUuid serviceId, bool forced)
{
    co_await attempt(
        this, [&] { return m_serviceManager.stop(serviceId, forced); }, failureShower(KeychainErrorText::fullMessage));
}

void ServicesController::requestForceKill(const ManagedService &service)
{
    setConfirmForceKill(service);
}

QString ServicesController::forceTerminateMessage() const
{
    const QString name =
        m_confirmForceKill ? NameRule::oneLine(m_confirmForceKill->name) : QStringLiteral("the service");
    return QStringLiteral("This will immediately kill ") + name
           + QStringLiteral(". This action requires explicit confirmation.");
}

QCoro::Task<> ServicesController::forceKillService()
{
    if (!m_confirmForceKill)
        co_return;
    const QUuid serviceId = m_confirmForceKill->id;
    QPointer<ServicesController> self(this);
    co_await performStop(serviceId, true);
    if (self)
        setConfirmForceKill(std::nullopt);
}

void ServicesController::cancelForceKill()
{
    setConfirmForceKill(std::nullopt);
}

void ServicesController::editService(const ManagedService &service)
{
    const auto entry = m_serviceManager.runtime().constFind(service.id);
    if (entry != m_serviceManager.runtime().cend() && entry->state == ServiceLifecycleState::running) {
        setErrorMessage(ServiceManagerError::editingRunningService().message());
        return;
    }
    openEditor(service);
}

QCoro::Task<> ServicesController::openEditor(ManagedService service)
{
    auto current = co_await attempt(
        this,
        [&] {
            return m_serviceManager.migrateLegacyEncryptedService(service.id,
                                                                  ProtectedUnlockReason::migrateLegacyServices());
        },
        failureShower(KeychainErrorText::description));
    if (current)
        setEditorMode(ServiceEditorMode::edit(*current));
}

void ServicesController::openCreateEditor()
{
    setEditorMode(ServiceEditorMode::create());
}

void ServicesController::closeEditor()
{
    setEditorMode(std::nullopt);
}

ManagedService ServicesController::newServiceDraft()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return ManagedService {QUuid::createUuid(), QString(), QString(), false, std::nullopt, now, now};
}

QCoro::Task<> ServicesController::saveEditedService(ManagedService service)
{
    const auto saved = co_await attempt(
        this, [&] { return m_serviceManager.saveService(service); },
        [this](const std::exception_ptr &failure) {
            Q_EMIT saveFinished(false);
            showFailure(failure, KeychainErrorText::fullMessage);
        });
    if (saved.abandoned)
        co_return;
    if (saved)
        Q_EMIT saveFinished(true);
    setSelectedServiceID(service.id);
}

QCoro::Task<> ServicesController::deleteEditedService(ServiceEditorMode mode)
{
    if (!mode.service)
        co_return;
    co_await attempt(
        this, [&] { return removeService(*mode.service); }, failureShower(KeychainErrorText::fullMessage));
}

QCoro::Task<> ServicesController::removeService(ManagedService service)
{
    QPointer<ServicesController> self(this);
    co_await m_serviceManager.deleteService(service.id);
    if (self && m_selectedServiceID == service.id)
        setSelectedServiceID(std::nullopt);
}

QCoro::Task<> ServicesController::retryKeychainAccess()
{
    co_await m_profilesManager.reload();
}

std::function<void(const std::exception_ptr &)> ServicesController::failureShower(KeychainErrorText keychainText)
{
    return [this, keychainText](const std::exception_ptr &failure) { showFailure(failure, keychainText); };
}

void ServicesController::showFailure(const std::exception_ptr &failure, KeychainErrorText keychainText)
{
    if (const std::optional<QString> message = screenErrorMessage(failure, keychainText))
        setErrorMessage(*message);
}

void ServicesController::setErrorMessage(const std::optional<QString> &message)
{
    if (assignChanged(m_errorMessage, message))
        Q_EMIT errorMessageChanged();
}

void ServicesController::setEditorMode(const std::optional<ServiceEditorMode> &mode)
{
    if (assignChanged(m_editorMode, mode))
        Q_EMIT editorModeChanged();
}

void ServicesController::setConfirmForceKill(const std::optional<ManagedService> &service)
{
    if (assignChanged(m_confirmForceKill, service))
        Q_EMIT confirmForceKillChanged();
}

void ServicesController::setSudoRequest(const std::optional<SudoPasswordRequest> &request)
{
    if (assignChanged(m_sudoRequest, request))
        Q_EMIT sudoRequestChanged();
}

void ServicesController::setCommandThreatRequest(const std::optional<CommandThreatReviewRequest> &request)
{
    if (assignChanged(m_commandThreatRequest, request))
        Q_EMIT commandThreatRequestChanged();
}
