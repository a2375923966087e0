#pragma once

#include "ui/components/TitledMessageBox.h"

#include <QMessageBox>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class CommandThreatReviewView;
class EnvironmentProfilesManager;
class KeychainAccessBanner;
class MacTextField;
class ProtectedDataLockButton;
class ProtectedProfilesLockManager;
class QListView;
class QStackedWidget;
class QToolButton;
class SecurityScopedBookmarkStore;
class SegmentedPicker;
class ServiceDetailView;
class ServiceEditorView;
class ServiceListModel;
class ServiceManager;
class ServiceRunHistoryManager;
class ServicesController;
class SudoPasswordPromptView;

// The Services section: the list of services with search and state filter on
// the left, the selected service on the right, and the sheets and alerts of
// the screen's flows. All state and flows live in its ServicesController.
class ServicesView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int sidebarWidth = 320;

    // The managers must outlive the view; without a bookmark store the
    // editor's picked paths are not remembered.
    ServicesView(ServiceManager &serviceManager, EnvironmentProfilesManager &profilesManager,
                 ProtectedProfilesLockManager &lockManager, ServiceRunHistoryManager &historyManager,
                 SecurityScopedBookmarkStore *bookmarks = nullptr, QWidget *parent = nullptr);
    ~ServicesView() override;

    ServicesController &controller() const { return *m_controller; }

    // For the shell: shows this service (another screen asked for it).
    void selectService(const QUuid &serviceId);
    // For the shell: another screen asked for a service, so the list drops
    // its search and its filter.
    void resetNavigation();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeSidebar();
    QWidget *makeSearchField();
    QWidget *makeFilterPicker();
    QWidget *makeKeychainBanner();
    QWidget *makeDetailHost();
    QWidget *makeToolbar();
    void updateKeychainBanner();
    void updateLockButton();
    void updateDetail();
    void syncListSelection();
    void syncEditorSheet();
    void syncSudoSheet();
    void syncThreatReviewSheet();
    void syncForceKillAlert();
    void syncErrorAlert();

    ServicesController *m_controller = nullptr;
    ServiceListModel *m_model = nullptr;
    MacTextField *m_search = nullptr;
    QToolButton *m_clearSearch = nullptr;
    SegmentedPicker *m_filterPicker = nullptr;
    QListView *m_list = nullptr;
    QWidget *m_createButton = nullptr;
    KeychainAccessBanner *m_keychainBanner = nullptr;
    ProtectedDataLockButton *m_lockButton = nullptr;
    QStackedWidget *m_detailHost = nullptr;
    QWidget *m_emptyState = nullptr;
    ServiceDetailView *m_detail = nullptr;
    std::optional<QUuid> m_detailServiceId;
    int m_savedScrollValue = 0;
    // Set while the list shows the controller's selection or is being reset.
    bool m_writingListSelection = false;
    // The row a mouse press landed on when it was selected already.
    QPersistentModelIndex m_pressedSelectedRow;

    QPointer<ServiceEditorView> m_editor;
    QPointer<SudoPasswordPromptView> m_sudoSheet;
    QPointer<CommandThreatReviewView> m_reviewSheet;
    QPointer<TitledMessageBox> m_forceKillAlert;
    QPointer<TitledMessageBox> m_errorAlert;
};
