#pragma once

#include "profiles/EnvironmentProfile.h"
#include "profiles/ProtectedUnlockReason.h"
#include "ui/screens/profiles/ProfileEditorMode.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUuid>

#include <exception>
#include <optional>

class EnvironmentProfilesManager;

// The state and the flows of the Environment Profiles screen: search,
// selection, the open editor sheet and the error alert; unlock, edit, save and
// delete go through the profiles manager.
class ProfilesController final : public QObject {
    Q_OBJECT
public:
    // The manager must outlive the controller.
    explicit ProfilesController(EnvironmentProfilesManager &manager,
                                std::optional<QUuid> initialSelection = std::nullopt, QObject *parent = nullptr);

    EnvironmentProfilesManager &manager() const { return m_manager; }

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

Q_SIGNALS:
    void searchTextChanged();
    void selectedProfileIDChanged();
    void editorModeChanged();
    void errorMessageChanged();
    // A save has its answer (false: cancelled or failed, the editor keeps its draft).
    void saveFinished(bool saved);

private:
    // Runs the unlock of the selection as it stands; a result that arrives
    // after the selection changed again is dropped.
    QCoro::Task<> runSelectionTask(quint64 generation);
    void setSelectedProfileID(std::optional<QUuid> id);
    void setEditorMode(std::optional<ProfileEditorMode> mode);
    void setErrorMessage(std::optional<QString> message);
    void applyErrorRule(const std::exception_ptr &failure);

    EnvironmentProfilesManager &m_manager;
    QString m_searchText;
    std::optional<QUuid> m_selectedProfileID;
    std::optional<ProfileEditorMode> m_editorMode;
    std::optional<QString> m_errorMessage;
    quint64 m_selectionGeneration = 0;
};
