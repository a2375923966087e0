#include "ui/screens/profiles/ProfilesController.h"

#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/OneLineText.h"
#include "ui/components/Attempt.h"
#include "ui/components/SearchRelevance.h"
#include "ui/screens/profiles/ProfilesErrorRule.h"

#include <QCollator>
#include <QCoroFuture>

#include <algorithm>

namespace {

QCollator nameCollator()
{
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Fire-and-forget: the task runs on by itself and ends with the coroutine.
void startTask(QCoro::Task<> &&task)
{
    (void)std::move(task);
}

} // namespace

ProfilesController::ProfilesController(EnvironmentProfilesManager &manager, ProtectedProfilesLockManager &lockManager,
                                       std::optional<QUuid> initialSelection, QObject *parent)
    : QObject(parent),
      m_manager(manager),
      m_lockManager(lockManager),
      m_selectedProfileID(initialSelection)
{
    connect(&manager, &EnvironmentProfilesManager::profilesChanged, this, &ProfilesController::profilesChanged);
    connect(&manager, &EnvironmentProfilesManager::lockedProfileIDsChanged, this,
            &ProfilesController::lockedProfileIDsChanged);
    connect(&manager, &EnvironmentProfilesManager::keychainAccessGuidanceChanged, this,
            &ProfilesController::keychainAccessGuidanceChanged);
    connect(&manager, &EnvironmentProfilesManager::recoveredSecretsChanged, this,
            &ProfilesController::recoveredSecretsChanged);
    connect(&lockManager, &ProtectedProfilesLockManager::isUnlockedChanged, this,
            &ProfilesController::isUnlockedChanged);
    connect(&lockManager, &ProtectedProfilesLockManager::protectedProfilesDidLock, this,
            &ProfilesController::protectedProfilesDidLock);
}

const std::optional<QString> &ProfilesController::keychainAccessGuidance() const
{
    return m_manager.keychainAccessGuidance();
}

bool ProfilesController::isUnlocked() const
{
    return m_lockManager.isUnlocked();
}

std::optional<QString> ProfilesController::takeRecoveryNotice()
{
    QStringList lines;
    for (const auto &secret : m_manager.recoveredSecrets()) {
        lines.append(QStringLiteral("The value of %1 in “%2” was recovered from an older keyring item. Check it and "
                                    "save the profile.")
                         .arg(EnvironmentVariable::trimmedKey(secret.key), OneLineText::of(secret.profileName)));
    }
    m_manager.clearRecoveredSecrets();
    if (lines.isEmpty())
        return std::nullopt;
    return lines.join(QLatin1Char('\n'));
}

void ProfilesController::lockProtectedProfiles()
{
    m_lockManager.lock();
}

void ProfilesController::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    Q_EMIT searchTextChanged();
}

QList<EnvironmentProfile> ProfilesController::filteredProfiles(const QList<EnvironmentProfile> &profiles,
                                                               const QString &searchText)
{
    if (searchText.isEmpty()) {
        QList<EnvironmentProfile> sorted = profiles;
        EnvironmentProfilesManager::sortByName(sorted);
        return sorted;
    }
    QList<std::pair<EnvironmentProfile, int>> scored;
    for (const EnvironmentProfile &profile : profiles) {
        if (const auto score = searchRelevanceScore(searchText, profile.name))
            scored.append({profile, *score});
    }
    const QCollator collator = nameCollator();
    std::stable_sort(scored.begin(), scored.end(), [&collator](const auto &a, const auto &b) {
        if (a.second != b.second)
            return a.second > b.second;
        return collator.compare(a.first.name, b.first.name) < 0;
    });
    QList<EnvironmentProfile> result;
    result.reserve(scored.size());
    for (auto &pair : scored)
        result.append(std::move(pair.first));
    return result;
}

QList<EnvironmentProfile> ProfilesController::filteredProfiles() const
{
    return filteredProfiles(m_manager.profiles(), m_searchText);
}

bool ProfilesController::hasProtectedProfiles() const
{
    const auto &profiles = m_manager.profiles();
    return std::any_of(profiles.begin(), profiles.end(), [](const auto &profile) { return profile.isProtected; });
}

bool ProfilesController::isLocked(const QUuid &id) const
{
    return m_manager.lockedProfileIDs().contains(id);
}

std::optional<EnvironmentProfile> ProfilesController::selectedProfile() const
{
    return m_manager.profile(m_selectedProfileID);
}

void ProfilesController::start()
{
    startTask(runSelectionTask(m_selectionGeneration));
}

void ProfilesController::tapRow(const QUuid &id)
{
    if (m_selectedProfileID == id) {
        startTask(unlockSelectedProfileIfNeeded());
        return;
    }
    setSelectedProfileID(id);
}

void ProfilesController::setSelectedProfileID(std::optional<QUuid> id)
{
    if (id == m_selectedProfileID)
        return;
    m_selectedProfileID = id;
    ++m_selectionGeneration;
    Q_EMIT selectedProfileIDChanged();
    startTask(runSelectionTask(m_selectionGeneration));
}

void ProfilesController::setEditorMode(std::optional<ProfileEditorMode> mode)
{
    if (mode == m_editorMode)
        return;
    m_editorMode = std::move(mode);
    Q_EMIT editorModeChanged();
}

void ProfilesController::setErrorMessage(std::optional<QString> message)
{
    if (message == m_errorMessage)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

std::function<void(const std::exception_ptr &)> ProfilesController::errorRule()
{
    return [this](const std::exception_ptr &failure) { applyErrorRule(failure); };
}

void ProfilesController::applyErrorRule(const std::exception_ptr &failure)
{
    if (auto message = profilesErrorMessage(failure))
        setErrorMessage(std::move(message));
}

QCoro::Task<> ProfilesController::runSelectionTask(quint64 generation)
{
    const auto profile = m_manager.profile(m_selectedProfileID);
    if (!profile || !isLocked(profile->id))
        co_return;
    co_await attempt(
        this, [&] { return m_manager.unlockProfile(profile->id, ProtectedUnlockReason::viewProfile(profile->name)); },
        errorRule(), [this, generation] { return generation == m_selectionGeneration; });
}

QCoro::Task<> ProfilesController::unlockSelectedProfileIfNeeded()
{
    const auto profile = m_manager.profile(m_selectedProfileID);
    if (!profile || !isLocked(profile->id))
        co_return;
    co_await handleUnlock(*profile, ProtectedUnlockReason::viewProfile(profile->name));
}

QCoro::Task<> ProfilesController::handleUnlock(EnvironmentProfile profile, ProtectedUnlockReason reason)
{
    co_await attempt(
        this, [&] { return m_manager.unlockProfile(profile.id, std::move(reason)); }, errorRule());
}

QCoro::Task<> ProfilesController::unlockProfile(EnvironmentProfile profile)
{
    const QString name = profile.name;
    co_await handleUnlock(std::move(profile), ProtectedUnlockReason::viewProfile(name));
}

void ProfilesController::editProfile(const EnvironmentProfile &profile)
{
    startTask(handleEdit(profile));
}

void ProfilesController::saveProfile(const EnvironmentProfile &profile)
{
    startTask(handleSave(profile));
}

void ProfilesController::deleteProfile(const EnvironmentProfile &profile)
{
    startTask(handleDelete(profile));
}

QCoro::Task<> ProfilesController::handleEdit(EnvironmentProfile profile)
{
    auto unlocked = co_await attempt(
        this, [&] { return m_manager.unlockProfile(profile.id, ProtectedUnlockReason::editProfile(profile.name)); },
        errorRule());
    if (unlocked)
        setEditorMode(ProfileEditorMode::edit(std::move(*unlocked)));
}

QCoro::Task<> ProfilesController::handleSave(EnvironmentProfile profile)
{
    const QUuid id = profile.id;
    const auto saved = co_await attempt(
        this, [&] { return m_manager.saveProfile(std::move(profile)); },
        [this](const std::exception_ptr &failure) {
            Q_EMIT saveFinished(false);
            applyErrorRule(failure);
        });
    if (!saved)
        co_return;
    Q_EMIT saveFinished(true);
    setSelectedProfileID(id);
}

QCoro::Task<> ProfilesController::handleDelete(EnvironmentProfile profile)
{
    const auto deleted = co_await attempt(
        this, [&] { return m_manager.deleteProfile(profile.id); }, errorRule());
    if (deleted && m_selectedProfileID == profile.id)
        setSelectedProfileID(std::nullopt);
}

QCoro::Task<> ProfilesController::reloadProfiles()
{
    co_await m_manager.reload();
}
