#include "profiles/EnvironmentProfilesManager.h"

#include "platform/SensitiveBytes.h"
#include "records/Json.h"
#include "records/ProtectedProfilesError.h"

#include <QCollator>
#include <QCoroFuture>
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>

namespace {

ProtectedProfilesError lockedError()
{
    return ProtectedProfilesError(ProtectedProfilesError::Case::locked);
}

} // namespace

EnvironmentProfilesManager::EnvironmentProfilesManager(EnvironmentProfilesRepository &repository,
                                                       ProtectedProfilesLockManager *lockManager, QObject *parent)
    : QObject(parent),
      m_repository(repository),
      m_lockManager(lockManager ? lockManager : new ProtectedProfilesLockManager(nullptr, nullptr, nullptr, this))
{
    connect(m_lockManager, &ProtectedProfilesLockManager::lockApplied, this,
            &EnvironmentProfilesManager::handleProtectedProfilesLocked);
    m_releaseRetry.setInterval(250);
    connect(&m_releaseRetry, &QTimer::timeout, this, &EnvironmentProfilesManager::releaseUnusedValues);
}

EnvironmentProfilesManager::~EnvironmentProfilesManager()
{
    m_profiles.clear();
    releaseUnusedValues();
}

void EnvironmentProfilesManager::sortByName(QList<EnvironmentProfile> &profiles)
{
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(profiles.begin(), profiles.end(),
                     [&collator](const EnvironmentProfile &a, const EnvironmentProfile &b) {
                         return collator.compare(a.name, b.name) < 0;
                     });
}

void EnvironmentProfilesManager::applyLoadResult(QList<EnvironmentProfile> profiles, QSet<QUuid> lockedIDs,
                                                 const std::optional<KeychainError> &keychainError)
{
    sortByName(profiles);
    setProfiles(std::move(profiles));
    setLockedProfileIDs(std::move(lockedIDs));
    setKeychainAccessGuidance(keychainError ? std::optional<QString>(keychainError->fullMessage()) : std::nullopt);
}

void EnvironmentProfilesManager::applyLoadResult(const EnvironmentProfilesRepository::LoadResult &result)
{
    applyLoadResult(result.profiles, result.lockedProfileIDs, result.keychainError);
    addRecoveredSecrets(result.recoveredSecrets);
}

QCoro::Task<> EnvironmentProfilesManager::reload()
{
    QPointer<EnvironmentProfilesManager> self = this;
    const EnvironmentProfilesRepository::LoadResult result = co_await m_repository.loadProfiles();
    if (self)
        applyLoadResult(result);
}

std::optional<EnvironmentProfile> EnvironmentProfilesManager::profile(const std::optional<QUuid> &id) const
{
    if (!id)
        return std::nullopt;
    for (const EnvironmentProfile &candidate : m_profiles) {
        if (candidate.id == *id)
            return candidate;
    }
    return std::nullopt;
}

QCoro::Task<> EnvironmentProfilesManager::saveProfile(EnvironmentProfile profile)
{
    QPointer<EnvironmentProfilesManager> self = this;
    // Stored dates carry whole seconds; stamping so keeps memory equal to the file.
    profile.updatedAt = json::truncatedToSeconds(QDateTime::currentDateTimeUtc());

    const std::optional<EnvironmentProfile> previous = this->profile(profile.id);
    std::optional<ProtectedUnlockReason> reason;
    if (previous && previous->isProtected) {
        reason = profile.isProtected ? ProtectedUnlockReason::editProfile(profile.name)
                                     : ProtectedUnlockReason::disableProtection();
    } else if (profile.isProtected) {
        reason = ProtectedUnlockReason::enableProtection();
    }

    std::optional<ProtectedPayloadCrypto> key;
    if (reason) {
        key = co_await m_lockManager->unlock(*reason);
        if (!self)
            co_return;
    }
    const quint64 lockGeneration = m_lockGeneration;

    const std::optional<EnvironmentProfilesRepository::LoadResult> reloaded =
        co_await changeAndReload(m_repository.saveProfile(profile, key));
    if (!self || !reloaded)
        co_return;

    // The reload lists a protected profile as locked; the variables just saved
    // are the readable ones, unless a lock came meanwhile and must be honoured.
    if (profile.isProtected && lockGeneration == m_lockGeneration) {
        keepValues(profile.variables);
        replaceProfile(profile);
        QSet<QUuid> locked = m_lockedProfileIDs;
        locked.remove(profile.id);
        setLockedProfileIDs(std::move(locked));
    } else if (profile.isProtected) {
        EnvironmentVariable::wipeValues(profile.variables);
    }
    // A keyring failure of the reload stays reported: clearing it would let
    // launches run with empty secret values and no warning.
    if (!reloaded->keychainError)
        setKeychainAccessGuidance(std::nullopt);
}

QCoro::Task<> EnvironmentProfilesManager::deleteProfile(QUuid id)
{
    QPointer<EnvironmentProfilesManager> self = this;
    const std::optional<EnvironmentProfile> existing = profile(id);

    std::optional<ProtectedPayloadCrypto> key;
    if (existing && existing->isProtected) {
        const ProtectedUnlockReason reason = ProtectedUnlockReason::editProfile(existing->name);
        key = co_await m_lockManager->unlock(reason);
        if (!self)
            co_return;
    }

    co_await changeAndReload(m_repository.deleteProfile(id, key));
}

QCoro::Task<std::optional<EnvironmentProfilesRepository::LoadResult>>
EnvironmentProfilesManager::changeAndReload(QFuture<QList<EnvironmentProfile>> change)
{
    QPointer<EnvironmentProfilesManager> self = this;
    try {
        co_await change;
    } catch (const KeychainError &error) {
        if (self)
            reportKeychainFailure(error);
        throw;
    }
    if (!self)
        co_return std::nullopt;
    EnvironmentProfilesRepository::LoadResult reloaded = co_await m_repository.loadProfiles();
    if (!self)
        co_return std::nullopt;
    applyLoadResult(reloaded);
    co_return reloaded;
}

QCoro::Task<EnvironmentProfile> EnvironmentProfilesManager::unlockProfile(QUuid id, ProtectedUnlockReason reason)
{
    QPointer<EnvironmentProfilesManager> self = this;
    const std::optional<EnvironmentProfile> existing = profile(id);
    if (!existing)
        throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
    if (!existing->isProtected || !m_lockedProfileIDs.contains(id))
        co_return *existing;

    const ProtectedPayloadCrypto key = co_await m_lockManager->unlock(reason);
    if (!self)
        throw lockedError();
    const quint64 lockGeneration = m_lockGeneration;

    // Runs once `opened` is gone, whichever way this ends.
    const auto releaseUnused = qScopeGuard([self] {
        if (self)
            self->releaseUnusedValues();
    });
    std::optional<EnvironmentProfile> opened;
    try {
        QFuture<EnvironmentProfilesRepository::OpenedProfile> opening = m_repository.loadProtectedProfile(id, key);
        co_await opening;
        // Taken out, not copied: the awaiting machinery keeps the future a
        // while longer, and a copy there would outlive a lock unwiped.
        EnvironmentProfilesRepository::OpenedProfile result = opening.takeResult();
        opened = std::move(result.profile);
        if (self) {
            keepValues(opened->variables);
            addRecoveredSecrets(result.recoveredSecrets);
        }
    } catch (const KeychainError &error) {
        if (self)
            reportKeychainFailure(error);
        throw;
    }
    if (!self)
        throw lockedError();
    // A lock while the profile was being opened ends this unlock too: its
    // variables must not reappear after the person locked.
    if (lockGeneration != m_lockGeneration) {
        EnvironmentVariable::wipeValues(opened->variables);
        throw lockedError();
    }
    // Deleted meanwhile: do not bring it back.
    if (!profile(id))
        throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);

    replaceProfile(*opened);
    QSet<QUuid> locked = m_lockedProfileIDs;
    locked.remove(id);
    setLockedProfileIDs(std::move(locked));
    setKeychainAccessGuidance(std::nullopt);
    co_return *opened;
}

QCoro::Task<QMap<QString, QString>> EnvironmentProfilesManager::resolvedEnvironment(std::optional<QUuid> profileID,
                                                                                    QString serviceName)
{
    QPointer<EnvironmentProfilesManager> self = this;
    const std::optional<EnvironmentProfile> existing = profile(profileID);
    if (!existing)
        co_return QMap<QString, QString>();
    if (existing->isProtected && m_lockedProfileIDs.contains(existing->id)) {
        const ProtectedUnlockReason reason = ProtectedUnlockReason::launchService(serviceName, existing->name);
        co_await unlockProfile(existing->id, reason);
        if (!self)
            throw lockedError();
    }
    co_return environmentDictionary(profileID);
}

QMap<QString, QString> EnvironmentProfilesManager::environmentDictionary(const std::optional<QUuid> &profileID) const
{
    QMap<QString, QString> environment;
    const std::optional<EnvironmentProfile> found = profile(profileID);
    if (!found || m_lockedProfileIDs.contains(found->id))
        return environment;
    for (const EnvironmentVariable &variable : found->variables) {
        const QString key = EnvironmentVariable::trimmedKey(variable.key);
        if (key.isEmpty() || !EnvironmentVariable::isValidKey(key))
            continue;
        // While the keyring cannot be read, secret values are empty in memory:
        // leaving them out lets the launch see the gap instead of a blank value.
        if (variable.isSecret && m_keychainAccessGuidance)
            continue;
        environment.insert(key, variable.value);
    }
    return environment;
}

QList<ServiceRunEnvironmentEntry>
EnvironmentProfilesManager::runEnvironmentEntries(const std::optional<QUuid> &profileID) const
{
    QList<ServiceRunEnvironmentEntry> entries;
    const std::optional<EnvironmentProfile> found = profile(profileID);
    if (!found || m_lockedProfileIDs.contains(found->id))
        return entries;
    entries.reserve(found->variables.size());
    for (const EnvironmentVariable &variable : found->variables)
        entries.append(ServiceRunEnvironmentEntry::forVariable(variable.key, variable.value, variable.isSecret));
    return entries;
}

void EnvironmentProfilesManager::handleProtectedProfilesLocked()
{
    ++m_lockGeneration;
    // Once the screens have heard of the lock and dropped their copies.
    const auto releaseForgotten = qScopeGuard([this] {
        releaseUnusedValues();
        if (!m_keptValues.isEmpty())
            m_releaseRetry.start();
    });
    const bool anyProtected = std::any_of(m_profiles.cbegin(), m_profiles.cend(),
                                          [](const EnvironmentProfile &candidate) { return candidate.isProtected; });
    if (!anyProtected)
        return;

    // Forgotten in place: an edited copy would share every value, and a
    // shared value cannot be wiped.
    QSet<QUuid> protectedIDs;
    bool forgotAny = false;
    for (EnvironmentProfile &candidate : m_profiles) {
        if (!candidate.isProtected)
            continue;
        protectedIDs.insert(candidate.id);
        forgotAny = forgotAny || !candidate.variables.isEmpty();
        EnvironmentVariable::wipeValues(candidate.variables);
    }
    if (forgotAny)
        Q_EMIT profilesChanged();
    setLockedProfileIDs(m_lockedProfileIDs | protectedIDs);
}

void EnvironmentProfilesManager::replaceProfile(const EnvironmentProfile &profile)
{
    QList<EnvironmentProfile> profiles = m_profiles;
    const auto existing = std::find_if(profiles.begin(), profiles.end(),
                                       [&profile](const EnvironmentProfile &p) { return p.id == profile.id; });
    if (existing != profiles.end())
        *existing = profile;
    else
        profiles.append(profile);
    sortByName(profiles);
    setProfiles(std::move(profiles));
}

void EnvironmentProfilesManager::setProfiles(QList<EnvironmentProfile> profiles)
{
    if (profiles == m_profiles)
        return;
    m_profiles = std::move(profiles);
    Q_EMIT profilesChanged();
    releaseUnusedValues();
}

void EnvironmentProfilesManager::keepValues(const QList<EnvironmentVariable> &variables)
{
    for (const EnvironmentVariable &variable : variables) {
        // A literal's text is never freed; a value kept twice would never look unused.
        const bool kept = std::any_of(m_keptValues.cbegin(), m_keptValues.cend(), [&variable](const QString &value) {
            return value.data_ptr().isSharedWith(variable.value.data_ptr());
        });
        if (variable.value.data_ptr().isMutable() && !kept)
            m_keptValues.append(variable.value);
    }
}

void EnvironmentProfilesManager::releaseUnusedValues()
{
    QList<QString> stillHeld;
    for (QString &value : m_keptValues) {
        if (value.isDetached())
            SensitiveBytes::wipe(value);
        else
            stillHeld.append(value);
    }
    m_keptValues = std::move(stillHeld);
    if (m_keptValues.isEmpty())
        m_releaseRetry.stop();
}

void EnvironmentProfilesManager::setLockedProfileIDs(QSet<QUuid> ids)
{
    if (ids == m_lockedProfileIDs)
        return;
    m_lockedProfileIDs = std::move(ids);
    Q_EMIT lockedProfileIDsChanged();
}

void EnvironmentProfilesManager::addRecoveredSecrets(
    const QList<EnvironmentProfilesRepository::RecoveredSecret> &secrets)
{
    if (secrets.isEmpty())
        return;
    m_recoveredSecrets += secrets;
    Q_EMIT recoveredSecretsChanged();
}

void EnvironmentProfilesManager::clearRecoveredSecrets()
{
    if (m_recoveredSecrets.isEmpty())
        return;
    m_recoveredSecrets.clear();
    Q_EMIT recoveredSecretsChanged();
}

void EnvironmentProfilesManager::setKeychainAccessGuidance(std::optional<QString> guidance)
{
    if (guidance == m_keychainAccessGuidance)
        return;
    m_keychainAccessGuidance = std::move(guidance);
    Q_EMIT keychainAccessGuidanceChanged();
}
