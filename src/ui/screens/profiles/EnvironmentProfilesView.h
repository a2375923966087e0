#pragma once

#include "profiles/EnvironmentProfile.h"
#include "ui/screens/profiles/ProfileEditorView.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class EnvironmentProfilesManager;
class ProtectedProfilesLockManager;
class ProfilesController;
class ProfilesListModel;
class ProfilesListView;

class KeychainAccessBanner;
class MacTextField;
class ProtectedDataLockButton;
#include "ui/components/TitledMessageBox.h"

#include <QMessageBox>
class QPushButton;
class QToolButton;
class QVBoxLayout;

// The Environment Profiles screen: the searchable profile list beside the
// selected profile's detail, the editor sheet, the error alert and the lock
// button.
class EnvironmentProfilesView final : public QWidget {
    Q_OBJECT
public:
    // Both managers must outlive the view.
    EnvironmentProfilesView(EnvironmentProfilesManager *profilesManager, ProtectedProfilesLockManager *lockManager,
                            QWidget *parent = nullptr, std::optional<QUuid> initialSelection = std::nullopt);
    ~EnvironmentProfilesView() override;

    ProfilesController &controller() const { return *m_controller; }
    ProfileEditorView *editor() const { return m_editor; }
    TitledMessageBox *errorAlert() const { return m_errorAlert; }
    TitledMessageBox *recoveryNotice() const { return m_recoveryNotice; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makeListColumn();
    QWidget *makeHeader();
    QWidget *makeBanner();
    QWidget *makeSearchBox();
    QWidget *makeEmptyState();
    void refreshList();
    void refreshBanner();
    void refreshLockButton();
    void refreshDetail();
    void showEditor();
    void showErrorAlert();
    // Told only while the screen is shown: a notice nobody sees is not told.
    void showRecoveryNotice();

    ProfilesController *m_controller;
    ProfilesListModel *m_model = nullptr;
    ProfilesListView *m_list = nullptr;
    QPushButton *m_createButton = nullptr;
    ProtectedDataLockButton *m_lockButton = nullptr;
    QWidget *m_bannerRow = nullptr;
    KeychainAccessBanner *m_banner = nullptr;
    MacTextField *m_search = nullptr;
    QToolButton *m_clearSearch = nullptr;
    QVBoxLayout *m_detailLayout = nullptr;
    QWidget *m_detail = nullptr;
    // What the detail shows now; it is rebuilt only when this changes.
    std::optional<std::pair<EnvironmentProfile, bool>> m_shownDetail;
    bool m_detailShown = false;
    bool m_started = false;
    QPointer<ProfileEditorView> m_editor;
    QPointer<TitledMessageBox> m_errorAlert;
    QPointer<TitledMessageBox> m_recoveryNotice;
};
