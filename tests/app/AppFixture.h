#pragma once

#include "app/AppEnvironment.h"
#include "execution/ServiceManager.h"
#include "execution/TerminalFolderCleanup.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ApplicationSupport.h"
#include "records/ServiceRunHistoryManager.h"
#include "support/Await.h"
#include "support/ProcessGroups.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeSecretStore.h"
#include "support/FakeTerminalLauncher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>

// A container on the test's data folder with fake authentication, keys,
// keyring and terminal; services run for real under /bin/sh.
struct AppFixture : ::testing::Test {
    std::shared_ptr<FakeAuthenticator> authenticator = std::make_shared<FakeAuthenticator>();
    std::shared_ptr<FakeProtectedKeyProvider> keys = std::make_shared<FakeProtectedKeyProvider>();
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    std::shared_ptr<FakeTerminalLauncher> terminal = std::make_shared<FakeTerminalLauncher>();
    TerminalFolderCleanup terminalCleanup;
    std::unique_ptr<AppEnvironment> app;

    AppEnvironment::PlatformLayers layers()
    {
        AppEnvironment::PlatformLayers platform;
        platform.authenticator = authenticator;
        platform.keyProvider = keys;
        platform.secretStore = secrets;
        platform.terminalLauncher = terminal;
        platform.terminalFolderCleanup = &terminalCleanup;
        platform.gpuProbe = [] { return std::optional<double>(); };
        return platform;
    }

    AppEnvironment &build(bool isReady = false, std::optional<bool> splashDone = std::nullopt)
    {
        app = std::make_unique<AppEnvironment>(AppEnvironment::buildStores(layers()), isReady, splashDone);
        return *app;
    }

    // A started environment whose services run with /bin/sh.
    AppEnvironment &buildReady()
    {
        build();
        await(app->bootstrap());
        app->setSettings({QStringLiteral("/bin/sh"), AppAppearanceMode::system});
        return *app;
    }

    ManagedService addService(const QString &name, const QString &command)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        ManagedService service {QUuid::createUuid(), name, command, false, std::nullopt, now, now};
        await(app->serviceManager().saveService(service));
        return *app->serviceManager().service(service.id);
    }

    bool isRunning(const QUuid &id) const
    {
        return app->serviceManager().runtime().value(id).state == ServiceLifecycleState::running;
    }

    static QString dataFile(const QString &name) { return applicationSupportDirectory() + QLatin1Char('/') + name; }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    ~AppFixture() override
    {
        if (!app)
            return;
        for (const auto &handle : app->serviceManager().launchedHandles())
            handle->signalProcessGroup(SIGKILL);
        await(app->runHistoryManager().waitForPendingWrites());
    }
};

// The object behind a pointer the test expects to be there; fails the test otherwise.
template <typename T>
T &present(T *object)
{
    if (!object)
        throw std::runtime_error("an expected object is missing");
    return *object;
}
