#pragma once

#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ApplicationSupport.h"
#include "support/Await.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeSecretStore.h"

#include <gtest/gtest.h>

// The real profiles manager over the test's data folder, with a fake keyring
// and a fake password prompt.
struct ProfilesFixture : ::testing::Test {
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    EnvironmentProfilesRepository repository {applicationSupportDirectory() + QStringLiteral("/environments.json"),
                                              secrets};
    std::shared_ptr<FakeAuthenticator> authenticator = std::make_shared<FakeAuthenticator>();
    std::shared_ptr<FakeProtectedKeyProvider> keys = std::make_shared<FakeProtectedKeyProvider>();
    ProtectedProfilesLockManager lockManager {authenticator, keys};
    EnvironmentProfilesManager manager {repository, &lockManager};

    static EnvironmentVariable variable(const QString &key, const QString &value, bool isSecret = false)
    {
        return {QUuid::createUuid(), key, value, isSecret};
    }

    EnvironmentProfile stored(const QString &name, QList<EnvironmentVariable> variables = {}, bool isProtected = false)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        EnvironmentProfile profile {QUuid::createUuid(), name, std::move(variables), isProtected, now, now};
        await(manager.saveProfile(profile));
        return *manager.profile(profile.id);
    }

    // A protected profile whose variables are locked away again.
    EnvironmentProfile storedLocked(const QString &name, QList<EnvironmentVariable> variables = {})
    {
        const EnvironmentProfile profile = stored(name, std::move(variables), true);
        lockManager.lock();
        authenticator->prompts.clear();
        return profile;
    }
};
