#pragma once

#include "ui/menubar/MenuBarStatusController.h"

#include <QWidget>

class KeychainAccessBanner;
class MenuCommandThreatReviewView;
class MenuMetricColumn;
class MenuServiceRow;
class MenuSudoPasswordPromptView;
class ProtectedDataLockButton;
class QPushButton;
class QVBoxLayout;
class StatusDot;
class StyledLabel;

// The content of the tray panel: header, machine load, keyring notice, the
// services list or one of its prompts, and the footer. Built afresh on every
// opening of the panel; renders its controller's state and reports, through
// contentSizeMayHaveChanged, when its height may have changed. What leaves the
// panel (opening the app or a service, quitting) is a signal of controller().
class MenuBarStatusView : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 320;

    MenuBarStatusView(ServiceManager *serviceManager, EnvironmentProfilesManager *profilesManager,
                      ProtectedProfilesLockManager *lockManager, MonitoringManager *monitoringManager,
                      bool applicationReady, QWidget *parent = nullptr);

    MenuBarStatusController *controller() const { return m_controller; }

    // The parts tests and the panel look at.
    StyledLabel *statusLabel() const { return m_status; }
    QWidget *statusDot() const;
    MenuMetricColumn *metricColumn(int index) const { return m_columns[index]; }
    const QList<MenuServiceRow *> &rows() const { return m_rows; }
    QPushButton *moreServicesButton() const { return m_more; }
    QWidget *emptyState() const { return m_empty; }
    QWidget *progressIndicator() const { return m_progress; }
    QPushButton *openAppButton() const { return m_openApp; }
    QPushButton *footerQuitButton() const { return m_footerQuit; }
    QWidget *quitConfirmation() const { return m_quitBox; }
    QPushButton *confirmQuitButton() const { return m_confirmQuit; }
    QPushButton *cancelQuitButton() const { return m_cancelQuit; }
    StyledLabel *quitWarningLabel() const { return m_quitWarning; }
    MenuCommandThreatReviewView *reviewView() const { return m_review; }
    MenuSudoPasswordPromptView *sudoView() const { return m_sudo; }
    KeychainAccessBanner *keychainBanner() const { return m_banner; }

Q_SIGNALS:
    void contentSizeMayHaveChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildLoadRow();
    QWidget *buildFooter();
    QWidget *sectionTitle(const QString &title);
    void rebuildModeSection();
    QWidget *buildServicesSection();
    QWidget *buildQuitConfirmation();
    void refreshQuitConfirmation();
    void refreshHeader();
    void showRunning(bool running);
    void refreshMetrics();
    void refreshBanner();
    void refreshServices();

    MenuBarStatusController *m_controller;

    StyledLabel *m_status = nullptr;
    StatusDot *m_dot = nullptr;
    ProtectedDataLockButton *m_lockButton = nullptr;
    MenuMetricColumn *m_columns[3] = {};
    QWidget *m_bannerBox = nullptr;
    KeychainAccessBanner *m_banner = nullptr;
    QVBoxLayout *m_modeLayout = nullptr;
    QWidget *m_modeSection = nullptr;
    QWidget *m_footerBox = nullptr;
    QPushButton *m_openApp = nullptr;
    QPushButton *m_footerQuit = nullptr;

    // The mode section's parts; only those of the shown mode exist.
    QVBoxLayout *m_rowsLayout = nullptr;
    QList<MenuServiceRow *> m_rows;
    QPushButton *m_more = nullptr;
    QWidget *m_empty = nullptr;
    QWidget *m_progress = nullptr;
    QWidget *m_quitBox = nullptr;
    QPushButton *m_confirmQuit = nullptr;
    QPushButton *m_cancelQuit = nullptr;
    StyledLabel *m_quitWarning = nullptr;
    MenuCommandThreatReviewView *m_review = nullptr;
    MenuSudoPasswordPromptView *m_sudo = nullptr;
};
