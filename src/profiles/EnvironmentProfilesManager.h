#pragma once

#include "platform/KeychainError.h"
#include "profiles/EnvironmentProfile.h"
#include "profiles/EnvironmentProfilesRepository.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "profiles/ProtectedUnlockReason.h"
#include "records/ServiceRunEnvironmentEntry.h"

#include <QCoroTask>
#include <QFuture>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <optional>

// The main-thread holder of the environment profiles that screens show and
// launches use: the profile list in name order, the protected profiles whose
// variables are not in memory, and the keyring guidance shown while secret
// values cannot be read. Every lock of the lock manager makes each protected
// profile locked again, its decrypted variables forgotten.
class EnvironmentProfilesManager final : public QObject {
    Q_OBJECT
public:
    // Without a lock manager the manager makes its own; a given one (and the
    // repository) must outlive the manager.
    explicit EnvironmentProfilesManager(EnvironmentProfilesRepository &repository,
                                        ProtectedProfilesLockManager *lockManager = nullptr, QObject *parent = nullptr);
    ~EnvironmentProfilesManager() override;

    const QList<EnvironmentProfile> &profiles() const { return m_profiles; }
    const QSet<QUuid> &lockedProfileIDs() const { return m_lockedProfileIDs; }
    const std::optional<QString> &keychainAccessGuidance() const { return m_keychainAccessGuidance; }
    // Secrets whose values loads or unlocks read from an older keyring item,
    // kept until a screen has told the person (clearRecoveredSecrets).
    const QList<EnvironmentProfilesRepository::RecoveredSecret> &recoveredSecrets() const { return m_recoveredSecrets; }
    void clearRecoveredSecrets();
    ProtectedProfilesLockManager &protectedProfilesLockManager() const { return *m_lockManager; }

    // Stable sort by name, localized and case-insensitive (current locale).
    static void sortByName(QList<EnvironmentProfile> &profiles);

    // Publishes a load of the repository: the profiles in name order, the locked
    // ids as given, and the guidance of the keyring failure (cleared without one).
    void applyLoadResult(QList<EnvironmentProfile> profiles, QSet<QUuid> lockedIDs,
                         const std::optional<KeychainError> &keychainError);
    // The same, adding the load's recovered secrets to those not yet told.
    void applyLoadResult(const EnvironmentProfilesRepository::LoadResult &result);
    // Loads the repository afresh and publishes the result (as applyLoadResult),
    // unless the manager went away meanwhile; e.g. a retry after a keyring failure.
    QCoro::Task<> reload();

    std::optional<EnvironmentProfile> profile(const std::optional<QUuid> &id) const;

    // Each throws ProtectedProfilesError, KeychainError,
    // EnvironmentProfileValidationError or FileStoreError unchanged; a failure
    // leaves the published state as it was (a keyring failure sets the guidance).
    QCoro::Task<> saveProfile(EnvironmentProfile profile);
    QCoro::Task<> deleteProfile(QUuid id);
    QCoro::Task<EnvironmentProfile> unlockProfile(QUuid id, ProtectedUnlockReason reason);

    // The variables a launch lays over the application's environment, unlocking
    // a locked protected profile first (the launch must not go ahead on failure).
    QCoro::Task<QMap<QString, QString>> resolvedEnvironment(std::optional<QUuid> profileID, QString serviceName);
    // Keys trimmed, blank and invalid keys left out, a later duplicate winning;
    // secret values left out while the keyring guidance is shown. Empty for a
    // missing or locked profile.
    QMap<QString, QString> environmentDictionary(const std::optional<QUuid> &profileID) const;
    // The profile's variables as run history records them: every variable in
    // list order, keys as stored, secret values masked. Empty for a missing or
    // locked profile.
    QList<ServiceRunEnvironmentEntry> runEnvironmentEntries(const std::optional<QUuid> &profileID) const;

Q_SIGNALS:
    void profilesChanged();
    void lockedProfileIDsChanged();
    void keychainAccessGuidanceChanged();
    void recoveredSecretsChanged();

private:
    // Awaits one change of the repository (a keyring failure sets the guidance
    // on its way to the caller), then publishes a fresh load and returns it;
    // none when the manager went away meanwhile.
    QCoro::Task<std::optional<EnvironmentProfilesRepository::LoadResult>>
    changeAndReload(QFuture<QList<EnvironmentProfile>> change);
    void handleProtectedProfilesLocked();
    void replaceProfile(const EnvironmentProfile &profile);
    void setProfiles(QList<EnvironmentProfile> profiles);
    void setLockedProfileIDs(QSet<QUuid> ids);
    void setKeychainAccessGuidance(std::optional<QString> guidance);
    void reportKeychainFailure(const KeychainError &error) { setKeychainAccessGuidance(error.fullMessage()); }
    void addRecoveredSecrets(const QList<EnvironmentProfilesRepository::RecoveredSecret> &secrets);
    void keepValues(const QList<EnvironmentVariable> &variables);
    // Wipes and lets go of the kept values that nobody else holds any more.
    void releaseUnusedValues();

    EnvironmentProfilesRepository &m_repository;
    ProtectedProfilesLockManager *m_lockManager;
    QList<EnvironmentProfile> m_profiles;
    QSet<QUuid> m_lockedProfileIDs;
    std::optional<QString> m_keychainAccessGuidance;
    QList<EnvironmentProfilesRepository::RecoveredSecret> m_recoveredSecrets;
    // Raised by every lock, so work that awaited across one can tell.
    quint64 m_lockGeneration = 0;
    // One more holder of every value of an opened or saved protected profile.
    // A screen's copy, or a caller's, may be the last one left when the
    // manager forgets a value, and would free it unwiped; with this one held
    // the manager always lets go last, and wipes first.
    QList<QString> m_keptValues;
    // After a lock, looks again until holders elsewhere have let go.
    QTimer m_releaseRetry;
};
