#include "app/AppEnvironment.h"

#include "app/ApplicationAppearance.h"
#include "execution/MachineMetricsProbes.h"
#include "execution/MonitoringManager.h"
#include "execution/ServiceManager.h"
#include "platform/Logging.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ApplicationSupport.h"
#include "records/ProtectedProfilesError.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"
#include "records/SettingsRepository.h"
#include "ui/platform/LocalProtectedAuthenticator.h"

#include <QCoroFuture>
#include <QPointer>
#include <QTimer>

#include <exception>

AppEnvironment::Stores::Stores() = default;
AppEnvironment::Stores::Stores(Stores &&) noexcept = default;
AppEnvironment::Stores &AppEnvironment::Stores::operator=(Stores &&) noexcept = default;
AppEnvironment::Stores::~Stores() = default;

namespace {

QString dataFile(const char *name)
{
    // Worked out again for every file: each store finds the folder there even
    // when someone removed it in between.
    return applicationSupportDirectory() + QLatin1Char('/') + QLatin1String(name);
}

GPUUtilizationSampler::Probe defaultGpuProbe()
{
    return [probes = MachineMetricsProbes()] { return probes.queryAcceleratorUtilization(); };
}

} // namespace

AppEnvironment::Stores AppEnvironment::buildStores(const PlatformLayers &layers)
{
    Stores stores;
    // The password prompt lives in the desktop layer; the core only knows its interface.
    std::shared_ptr<ProtectedAuthenticating> authenticator =
        layers.authenticator ? layers.authenticator : std::make_shared<LocalProtectedAuthenticator>();
    stores.lockManager =
        std::make_unique<ProtectedProfilesLockManager>(authenticator, layers.keyProvider, layers.lockClock);
    stores.bookmarks = std::make_unique<SecurityScopedBookmarkStore>(dataFile("bookmarks.json"));
    stores.settingsRepository = std::make_unique<SettingsRepository>(dataFile("settings.json"));
    stores.profilesRepository =
        std::make_unique<EnvironmentProfilesRepository>(dataFile("environments.json"), layers.secretStore);
    stores.environmentProfilesManager =
        std::make_unique<EnvironmentProfilesManager>(*stores.profilesRepository, stores.lockManager.get());
    stores.runHistoryRepository = std::make_unique<ServiceRunHistoryRepository>(dataFile("run-history.json"));
    stores.runHistoryManager = std::make_unique<ServiceRunHistoryManager>(*stores.runHistoryRepository);
    stores.serviceRepository = std::make_unique<ServiceRepository>(dataFile("services.json"));
    stores.gpuSampler = std::make_shared<GPUUtilizationSampler>(layers.gpuProbe.value_or(defaultGpuProbe()),
                                                                gpuSampleInterval, gpuAveragingWindow);
    stores.monitoringManager = std::make_unique<MonitoringManager>(stores.gpuSampler);
    stores.terminalLauncher = layers.terminalLauncher;
    stores.terminalFolderCleanup = layers.terminalFolderCleanup;
    return stores;
}

std::unique_ptr<AppEnvironment> AppEnvironment::live()
{
    return live(PlatformLayers());
}

std::unique_ptr<AppEnvironment> AppEnvironment::live(const PlatformLayers &layers)
{
    return std::make_unique<AppEnvironment>(buildStores(layers), false);
}

QString AppEnvironment::applicationSupportDirectory()
{
    return ::applicationSupportDirectory();
}

AppEnvironment::AppEnvironment(Stores stores, bool isReady, std::optional<bool> hasCompletedLaunchSplashDelay,
                               QObject *parent)
    : QObject(parent),
      m_stores(std::move(stores)),
      m_serviceManager(std::make_unique<ServiceManager>(
          *m_stores.serviceRepository, *m_stores.environmentProfilesManager, *m_stores.runHistoryManager,
          m_stores.environmentProfilesManager->protectedProfilesLockManager(), m_settingsBridge.provider(),
          m_stores.terminalLauncher, m_stores.terminalFolderCleanup)),
      m_isReady(isReady),
      m_hasCompletedLaunchSplashDelay(hasCompletedLaunchSplashDelay.value_or(isReady))
{
    // A coarse timer may end up to 5% early; the splash keeps its full delay.
    m_launchSplashTimer.setTimerType(Qt::PreciseTimer);
    m_launchSplashTimer.setSingleShot(true);
    connect(&m_launchSplashTimer, &QTimer::timeout, this, &AppEnvironment::setLaunchSplashDelayCompleted);
    followProtectedProfiles();
}

AppEnvironment::~AppEnvironment()
{
    m_launchSplashTimer.stop();
    m_hasCompletedLaunchSplashDelay = true;
    resumeLaunchSplashWaiters();
    // A question still waiting must not be left without an answer.
    if (auto pending = std::exchange(m_quitConfirmation, nullptr)) {
        pending->addResult(false);
        pending->finish();
    }
}

ProtectedProfilesLockManager &AppEnvironment::protectedProfilesLockManager() const
{
    return m_stores.environmentProfilesManager->protectedProfilesLockManager();
}

EnvironmentProfilesManager &AppEnvironment::environmentProfilesManager() const
{
    return *m_stores.environmentProfilesManager;
}

MonitoringManager &AppEnvironment::monitoringManager() const
{
    return *m_stores.monitoringManager;
}

ServiceRunHistoryManager &AppEnvironment::runHistoryManager() const
{
    return *m_stores.runHistoryManager;
}

SettingsRepository &AppEnvironment::settingsRepository() const
{
    return *m_stores.settingsRepository;
}

SecurityScopedBookmarkStore &AppEnvironment::bookmarks() const
{
    return *m_stores.bookmarks;
}

void AppEnvironment::setSettings(const AppSettings &settings)
{
    const bool changed = settings != m_settings;
    m_settings = settings;
    applySettings();
    if (changed)
        Q_EMIT settingsChanged(m_settings);
}

void AppEnvironment::applySettings()
{
    m_settingsBridge.apply(m_settings);
    applyApplicationAppearance(m_settings.appearanceMode);
}

void AppEnvironment::setSelectedSection(AppSection section)
{
    if (section == m_selectedSection)
        return;
    m_selectedSection = section;
    Q_EMIT selectedSectionChanged(section);
}

void AppEnvironment::setSelectedServiceID(const std::optional<QUuid> &id)
{
    if (id == m_selectedServiceID)
        return;
    m_selectedServiceID = id;
    Q_EMIT selectedServiceIDChanged(id);
}

void AppEnvironment::setReady()
{
    if (m_isReady)
        return;
    m_isReady = true;
    Q_EMIT readyChanged(true);
}

void AppEnvironment::setLaunchSplashDelayCompleted()
{
    if (m_hasCompletedLaunchSplashDelay)
        return;
    m_hasCompletedLaunchSplashDelay = true;
    Q_EMIT launchSplashDelayCompletedChanged(true);
    resumeLaunchSplashWaiters();
}

void AppEnvironment::resumeLaunchSplashWaiters()
{
    for (const std::coroutine_handle<> waiter : std::exchange(m_launchSplashWaiters, {}))
        waiter.resume();
}

void AppEnvironment::setQuitConfirmationPresented(bool presented)
{
    if (presented == m_isQuitConfirmationPresented)
        return;
    m_isQuitConfirmationPresented = presented;
    Q_EMIT quitConfirmationPresentedChanged(presented);
}

QCoro::Task<> AppEnvironment::bootstrap()
{
    if (m_isReady)
        co_return;
    QPointer<AppEnvironment> self(this);

    const AppSettings loadedSettings = co_await m_stores.settingsRepository->load();
    if (!self)
        co_return;
    setSettings(loadedSettings);

    const auto profiles = co_await m_stores.profilesRepository->loadProfiles();
    if (!self)
        co_return;
    m_stores.environmentProfilesManager->applyLoadResult(profiles);

    // The load folds in the runs kept aside: those of protected profiles must
    // reach the file masked, not wait for the redaction that follows.
    const auto protectedAtLoad = ProtectedProfileReferences::of(m_stores.environmentProfilesManager->profiles());
    m_stores.runHistoryManager->setProtectedProfiles(protectedAtLoad.ids, protectedAtLoad.names);
    co_await m_stores.runHistoryManager->loadHistory();
    if (!self)
        co_return;
    const auto references = ProtectedProfileReferences::of(m_stores.environmentProfilesManager->profiles());
    co_await m_stores.runHistoryManager->redactProtectedProfileHistory(references.ids, references.names);
    if (!self)
        co_return;

    co_await m_serviceManager->loadServices();
    if (!self)
        co_return;
    co_await migrateLegacyServices();
    if (!self)
        co_return;

    startMonitoring();
    setReady();
    qCInfo(lcGeneral, "Velmora bootstrap complete — %ld services", long(m_serviceManager->services().size()));
}

QCoro::Task<> AppEnvironment::migrateLegacyServices()
{
    try {
        co_await m_serviceManager->migrateLegacyEncryptedServices();
    } catch (const ProtectedProfilesError &error) {
        // The person chose not to authenticate now; the services stay as they are.
        if (error.errorCase() != ProtectedProfilesError::Case::authenticationCanceled)
            qCCritical(lcPersistence, "Failed to migrate legacy protected services: %s", error.what());
    } catch (const std::exception &error) {
        qCCritical(lcPersistence, "Failed to migrate legacy protected services: %s", error.what());
    }
}

void AppEnvironment::startMonitoring()
{
    QPointer<ServiceManager> services(m_serviceManager.get());
    m_stores.monitoringManager->configureProcessSampling(
        [services] { return services ? services->trackedProcessIDs() : QSet<qint32>(); },
        [] { return QSet<QString>(); },
        [services](const QList<ProcessSnapshot> &snapshots) {
            if (services)
                services->applyProcessSnapshots(snapshots);
        });
    m_stores.monitoringManager->start();
}

QCoro::Task<> AppEnvironment::completeLaunchSplashDelay()
{
    if (m_hasCompletedLaunchSplashDelay)
        co_return;
    // Overlapping calls share the delay that the first one started.
    if (!m_launchSplashTimer.isActive())
        m_launchSplashTimer.start(launchSplashDelay);
    co_await LaunchSplashDelayWait {this};
}

void AppEnvironment::showService(const QUuid &id)
{
    setSelectedServiceID(id);
    showServicesSection();
}

void AppEnvironment::showServicesSection()
{
    setSelectedSection(AppSection::services);
    ++m_serviceNavigationTick;
    Q_EMIT serviceNavigationTickChanged(m_serviceNavigationTick);
}

QCoro::Task<bool> AppEnvironment::presentQuitConfirmation()
{
    if (auto previous = std::exchange(m_quitConfirmation, nullptr)) {
        previous->addResult(false);
        previous->finish();
    }
    auto question = std::make_shared<QPromise<bool>>();
    question->start();
    QFuture<bool> answer = question->future();
    m_quitConfirmation = question;
    setQuitConfirmationPresented(true);
    co_return co_await answer;
}

void AppEnvironment::resolveQuitConfirmation(bool answer)
{
    setQuitConfirmationPresented(false);
    if (auto pending = std::exchange(m_quitConfirmation, nullptr)) {
        pending->addResult(answer);
        pending->finish();
    }
}

int AppEnvironment::runningServiceCount() const
{
    int count = 0;
    for (const ServiceRuntimeInfo &entry : m_serviceManager->runtime()) {
        if (entry.state == ServiceLifecycleState::running)
            ++count;
    }
    return count;
}

AppEnvironment::ProtectedProfileReferences
AppEnvironment::ProtectedProfileReferences::of(const QList<EnvironmentProfile> &profiles)
{
    ProtectedProfileReferences references;
    for (const EnvironmentProfile &profile : profiles) {
        if (profile.isProtected) {
            references.ids.insert(profile.id);
            references.names.insert(profile.name);
        }
    }
    return references;
}

void AppEnvironment::followProtectedProfiles()
{
    EnvironmentProfilesManager &profiles = *m_stores.environmentProfilesManager;
    const auto deliver = [this, &profiles] {
        const auto references = ProtectedProfileReferences::of(profiles.profiles());
        if (m_lastProtectedProfiles == references)
            return;
        m_lastProtectedProfiles = references;
        redactHistoryOfProtectedProfiles(references);
    };
    connect(&profiles, &EnvironmentProfilesManager::profilesChanged, this, deliver);
    deliver();
}

void AppEnvironment::redactHistoryOfProtectedProfiles(const ProtectedProfileReferences &references)
{
    // Started and left to run: the history manager orders its own writes.
    [](QPointer<AppEnvironment> self, ProtectedProfileReferences value) -> QCoro::Task<> {
        if (!self)
            co_return;
        co_await self->runHistoryManager().redactProtectedProfileHistory(value.ids, value.names);
    }(QPointer<AppEnvironment>(this), references);
}
