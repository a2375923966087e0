#pragma once

#include "app/AppSection.h"
#include "execution/GPUUtilizationSampler.h"
#include "execution/SettingsBridge.h"
#include "records/AppSettings.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPromise>
#include <QSet>
#include <QTimer>
#include <QString>
#include <QUuid>

#include <chrono>
#include <coroutine>
#include <functional>
#include <vector>
#include <memory>
#include <optional>

struct EnvironmentProfile;
class EnvironmentProfilesManager;
class EnvironmentProfilesRepository;
class MonitoringManager;
class ProtectedAuthenticating;
class ProtectedKeyProviding;
class ProtectedProfilesLockManager;
class SecretStoring;
class SecurityScopedBookmarkStore;
class ServiceManager;
class ServiceRepository;
class ServiceRunHistoryManager;
class ServiceRunHistoryRepository;
class SettingsRepository;
class TerminalFolderCleanup;
class TerminalLauncher;

// The application container: builds and owns every store and manager for the
// life of the process, runs the start-up sequence, and holds the main-thread
// state of the main window (settings, readiness, the selected section and
// service, the pending quit question). Main thread only.
class AppEnvironment final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds launchSplashDelay {3};
    static constexpr int lockSessionSeconds = 300;
    static constexpr double gpuSampleInterval = 0.2;
    static constexpr double gpuAveragingWindow = 1.5;

    // The desktop-facing layers under the stores. Each one left empty is the
    // real one (password prompt with PAM, the keyring, the terminal emulator,
    // the graphics card's load); tests hand in fakes.
    struct PlatformLayers {
        std::shared_ptr<ProtectedAuthenticating> authenticator;
        std::shared_ptr<ProtectedKeyProviding> keyProvider;
        std::shared_ptr<SecretStoring> secretStore;
        std::shared_ptr<TerminalLauncher> terminalLauncher;
        TerminalFolderCleanup *terminalFolderCleanup = nullptr;
        std::optional<GPUUtilizationSampler::Probe> gpuProbe;
        // The time the protected-data session is measured against.
        std::function<QDateTime()> lockClock;
    };

    // Everything the container owns besides the service manager, which it
    // builds itself on top of these.
    struct Stores {
        std::unique_ptr<ProtectedProfilesLockManager> lockManager;
        std::unique_ptr<SecurityScopedBookmarkStore> bookmarks;
        std::unique_ptr<SettingsRepository> settingsRepository;
        std::unique_ptr<EnvironmentProfilesRepository> profilesRepository;
        std::unique_ptr<EnvironmentProfilesManager> environmentProfilesManager;
        std::unique_ptr<ServiceRunHistoryRepository> runHistoryRepository;
        std::unique_ptr<ServiceRunHistoryManager> runHistoryManager;
        std::unique_ptr<ServiceRepository> serviceRepository;
        std::shared_ptr<GPUUtilizationSampler> gpuSampler;
        std::unique_ptr<MonitoringManager> monitoringManager;
        std::shared_ptr<TerminalLauncher> terminalLauncher;
        TerminalFolderCleanup *terminalFolderCleanup = nullptr;

        Stores();
        Stores(Stores &&) noexcept;
        Stores &operator=(Stores &&) noexcept;
        ~Stores();
    };

    AppEnvironment(Stores stores, bool isReady, std::optional<bool> hasCompletedLaunchSplashDelay = std::nullopt,
                   QObject *parent = nullptr);
    ~AppEnvironment() override;

    // Builds every store and manager on the data folder, in a fixed order;
    // loads nothing but bookmarks.json. Not ready, splash delay not passed.
    static std::unique_ptr<AppEnvironment> live();
    static std::unique_ptr<AppEnvironment> live(const PlatformLayers &layers);
    static Stores buildStores(const PlatformLayers &layers);
    // The data folder, created when missing.
    static QString applicationSupportDirectory();

    ProtectedProfilesLockManager &protectedProfilesLockManager() const;
    EnvironmentProfilesManager &environmentProfilesManager() const;
    ServiceManager &serviceManager() const { return *m_serviceManager; }
    MonitoringManager &monitoringManager() const;
    ServiceRunHistoryManager &runHistoryManager() const;
    SettingsRepository &settingsRepository() const;
    SecurityScopedBookmarkStore &bookmarks() const;
    const SettingsBridge &settingsBridge() const { return m_settingsBridge; }

    const AppSettings &settings() const { return m_settings; }
    // Every assignment is applied at once (shell and appearance).
    void setSettings(const AppSettings &settings);
    bool isReady() const { return m_isReady; }
    bool hasCompletedLaunchSplashDelay() const { return m_hasCompletedLaunchSplashDelay; }
    // The launch splash goes once both start-up and its delay are done.
    bool isLaunchComplete() const { return m_isReady && m_hasCompletedLaunchSplashDelay; }
    AppSection selectedSection() const { return m_selectedSection; }
    void setSelectedSection(AppSection section);
    const std::optional<QUuid> &selectedServiceID() const { return m_selectedServiceID; }
    void setSelectedServiceID(const std::optional<QUuid> &id);
    quint64 serviceNavigationTick() const { return m_serviceNavigationTick; }
    bool isQuitConfirmationPresented() const { return m_isQuitConfirmationPresented; }
    bool hasPendingQuitConfirmation() const { return m_quitConfirmation != nullptr; }

    // The start-up sequence; returns at once when already ready. Never fails.
    QCoro::Task<> bootstrap();
    // Waits the splash delay once, then marks it passed.
    QCoro::Task<> completeLaunchSplashDelay();
    // Asks the main window for the Services section with this service selected.
    void showService(const QUuid &id);
    // Asks the main window for the Services section, keeping the selection;
    // like showService, it clears the list's search and filter.
    void showServicesSection();
    // Raises the main window's quit dialog and yields its answer (true: quit).
    // A question still pending is answered "no" first.
    QCoro::Task<bool> presentQuitConfirmation();
    // Hides the quit dialog and answers the pending question, if any, once.
    void resolveQuitConfirmation(bool answer);

    // The number of services whose runtime state is running.
    int runningServiceCount() const;

Q_SIGNALS:
    void settingsChanged(const AppSettings &settings);
    void readyChanged(bool isReady);
    void launchSplashDelayCompletedChanged(bool completed);
    void selectedSectionChanged(AppSection section);
    void selectedServiceIDChanged(const std::optional<QUuid> &id);
    void serviceNavigationTickChanged(quint64 tick);
    void quitConfirmationPresentedChanged(bool presented);

private:
    // Ids and names, exactly as stored, of every protected profile.
    struct ProtectedProfileReferences {
        QSet<QUuid> ids;
        QSet<QString> names;
        static ProtectedProfileReferences of(const QList<EnvironmentProfile> &profiles);
        friend bool operator==(const ProtectedProfileReferences &, const ProtectedProfileReferences &) = default;
    };

    // Resumes the coroutines waiting for the splash delay, at its end or, when
    // the container goes first, at its destruction (a cancelled delay counts as
    // passed), so none is left suspended.
    struct LaunchSplashDelayWait {
        AppEnvironment *app;
        bool await_ready() const { return app->m_hasCompletedLaunchSplashDelay; }
        void await_suspend(std::coroutine_handle<> waiter) { app->m_launchSplashWaiters.push_back(waiter); }
        void await_resume() const {}
    };

    void applySettings();
    void setReady();
    void resumeLaunchSplashWaiters();
    void setLaunchSplashDelayCompleted();
    void setQuitConfirmationPresented(bool presented);
    void followProtectedProfiles();
    void redactHistoryOfProtectedProfiles(const ProtectedProfileReferences &references);
    QCoro::Task<> migrateLegacyServices();
    void startMonitoring();

    Stores m_stores;
    SettingsBridge m_settingsBridge;
    // Declared after the stores it uses, so it goes first.
    std::unique_ptr<ServiceManager> m_serviceManager;

    AppSettings m_settings;
    bool m_isReady = false;
    bool m_hasCompletedLaunchSplashDelay = false;
    AppSection m_selectedSection = AppSection::dashboard;
    std::optional<QUuid> m_selectedServiceID;
    quint64 m_serviceNavigationTick = 0;
    bool m_isQuitConfirmationPresented = false;
    std::shared_ptr<QPromise<bool>> m_quitConfirmation;
    std::optional<ProtectedProfileReferences> m_lastProtectedProfiles;
    QTimer m_launchSplashTimer;
    std::vector<std::coroutine_handle<>> m_launchSplashWaiters;
};
