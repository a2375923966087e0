#pragma once

#include "profiles/EnvironmentProfile.h"
#include "profiles/ProtectedUnlockReason.h"
#include "ui/screens/profiles/ProfileEditorMode.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUuid>

#include <exception>
#include <functional>
#include <optional>

class EnvironmentProfilesManager;
class ProtectedProfilesLockManager;

// The state and the flows of the Environment Profiles screen: search,
// selection, the open editor sheet and the error alert; unlock, edit, save and
// delete go through the profiles manager.
class ProfilesController final : public QObject {
    Q_OBJECT
public:
    // The managers must outlive the controller.
    ProfilesController(EnvironmentProfilesManager &manager, ProtectedProfilesLockManager &lockManager,
                       std::optional<QUuid> initialSelection = std::nullopt, QObject *parent = nullptr);

    // What the screen's widgets show besides the list, as the managers publish it.
    const std::optional<QString> &keychainAccessGuidance() const;
    bool isUnlocked() const;
    // What to tell of the secret values read from older keyring items since
    // last taken; none when there is nothing. Each is told once.
    std::optional<QString> takeRecoveryNotice();

    const QString &searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    const std::optional<QUuid> &selectedProfileID() const { return m_selectedProfileID; }
    const std::optional<ProfileEditorMode> &editorMode() const { return m_editorMode; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    void clearErrorMessage() { setErrorMessage(std::nullopt); }

    // Searched profiles by score, then name, then published order; all of them
    // in name order while the search text is empty.
    static QList<EnvironmentProfile> filteredProfiles(const QList<EnvironmentProfile> &profiles,
                                                      const QString &searchText);
    QList<EnvironmentProfile> filteredProfiles() const;
    bool hasProtectedProfiles() const;
    bool isLocked(const QUuid &id) const;
    // The selected profile as published, whatever the search; none for a
    // selection that matches no profile.
    std::optional<EnvironmentProfile> selectedProfile() const;

    // The screen's first showing runs the selection task once.
    void start();
    // A row was clicked: select it, or ask again to unlock the selected one.
    void tapRow(const QUuid &id);
    // A click on the list's empty space.
    void clearSelection() { setSelectedProfileID(std::nullopt); }

    void createProfile() { setEditorMode(ProfileEditorMode::create()); }
    void editorClosed() { setEditorMode(std::nullopt); }

    // Actions of the detail and the editor.
    QCoro::Task<> unlockProfile(EnvironmentProfile profile);
    void editProfile(const EnvironmentProfile &profile);
    void saveProfile(const EnvironmentProfile &profile);
    void deleteProfile(const EnvironmentProfile &profile);

    QCoro::Task<> unlockSelectedProfileIfNeeded();
    QCoro::Task<> handleUnlock(EnvironmentProfile profile, ProtectedUnlockReason reason);
    QCoro::Task<> handleEdit(EnvironmentProfile profile);
    QCoro::Task<> handleSave(EnvironmentProfile profile);
    QCoro::Task<> handleDelete(EnvironmentProfile profile);
    // The keyring banner's retry: loads again and republishes.
    QCoro::Task<> reloadProfiles();
    // The lock button: locks every protected profile.
    void lockProtectedProfiles();

Q_SIGNALS:
    void searchTextChanged();
    void selectedProfileIDChanged();
    void editorModeChanged();
    void errorMessageChanged();
    // A save has its answer (false: cancelled or failed, the editor keeps its draft).
    void saveFinished(bool saved);

    // Relayed from the managers.
    void profilesChanged();
    void lockedProfileIDsChanged();
    void keychainAccessGuidanceChanged();
    void recoveredSecretsChanged();
    void isUnlockedChanged(bool isUnlocked);
    // Protected data locked: an open edit of a protected profile ends.
    void protectedProfilesDidLock();

private:
    // Runs the unlock of the selection as it stands; a result that arrives
    // after the selection changed again is dropped.
    QCoro::Task<> runSelectionTask(quint64 generation);
    void setSelectedProfileID(std::optional<QUuid> id);
    void setEditorMode(std::optional<ProfileEditorMode> mode);
    void setErrorMessage(std::optional<QString> message);
    void applyErrorRule(const std::exception_ptr &failure);
    // applyErrorRule, for a flow's guarded block.
    std::function<void(const std::exception_ptr &)> errorRule();

    EnvironmentProfilesManager &m_manager;
    ProtectedProfilesLockManager &m_lockManager;
    QString m_searchText;
    std::optional<QUuid> m_selectedProfileID;
    std::optional<ProfileEditorMode> m_editorMode;
    std::optional<QString> m_errorMessage;
    quint64 m_selectionGeneration = 0;
};
