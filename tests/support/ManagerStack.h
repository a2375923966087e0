#pragma once

#include "execution/ServiceManager.h"
#include "execution/SettingsBridge.h"
#include "execution/TerminalFolderCleanup.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ApplicationSupport.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"
#include "support/Await.h"

#include <memory>

// The application's stores and managers, the real ones, over the data folder
// and on the platform layers given: what the shell builds, for the tests and
// benchmarks that drive a manager or a screen without it. /bin/sh is the shell.
// Going away, the service manager goes first, then the run history's pending
// writes are waited for, so nothing writes into the next test's folder.
struct ManagerStack {
    // Any layer left out is the real one (the desktop's terminal emulator, the
    // password prompt, the keyring); tests give fakes for all of them.
    struct Layers {
        std::shared_ptr<SecretStoring> secrets;
        std::shared_ptr<ProtectedAuthenticating> authenticator;
        std::shared_ptr<ProtectedKeyProviding> keys;
        std::shared_ptr<TerminalLauncher> terminal;
    };

    explicit ManagerStack(const Layers &layers)
        : profilesRepository(folder + QStringLiteral("/environments.json"), layers.secrets),
          lockManager(layers.authenticator, layers.keys),
          ownedManager(std::make_unique<ServiceManager>(repository, profiles, history, lockManager, settings.provider(),
                                                        layers.terminal, &terminalCleanup)),
          manager(*ownedManager)
    {
        settings.apply({QStringLiteral("/bin/sh"), AppAppearanceMode::system});
    }

    ~ManagerStack()
    {
        ownedManager.reset();
        await(history.waitForPendingWrites());
    }

    ManagerStack(const ManagerStack &) = delete;
    ManagerStack &operator=(const ManagerStack &) = delete;

    const QString folder = applicationSupportDirectory();
    EnvironmentProfilesRepository profilesRepository;
    ProtectedProfilesLockManager lockManager;
    EnvironmentProfilesManager profiles {profilesRepository, &lockManager};
    ServiceRunHistoryRepository historyRepository {folder + QStringLiteral("/run-history.json")};
    ServiceRunHistoryManager history {historyRepository};
    ServiceRepository repository {folder + QStringLiteral("/services.json")};
    SettingsBridge settings;
    TerminalFolderCleanup terminalCleanup;

private:
    std::unique_ptr<ServiceManager> ownedManager;

public:
    ServiceManager &manager;
};
