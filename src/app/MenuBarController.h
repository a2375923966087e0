#pragma once

#include "app/MenuBarEnvironment.h"

#include <QCoroTask>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class MenuBarPanel;
class MenuBarStatusView;
class StatusItem;

// Owns the status item, the panel that drops down from it and the reference
// to the main window: opens the main window (from the panel, on reopen, for a
// service), asks whether to quit when no main window can, and prepares the
// process for termination. One per process (shared()); main thread only.
class MenuBarController : public QObject {
    Q_OBJECT
public:
    static constexpr int minimumMainWindowWidth = 800;
    // Times the guard against a reopening click; without one, the steady clock.
    // Tests hand in their own.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit MenuBarController(QObject *parent = nullptr, Clock clock = nullptr);
    ~MenuBarController() override;

    static MenuBarController &shared();

    // After start-up: keeps the container and creates the status item (the
    // tray icon, or the main window's button while no tray is available).
    void configure(MenuBarEnvironment environment);
    bool isConfigured() const { return m_configured; }
    // Before configure: the container alone, without a status item, so that
    // the termination preparation reaches the managers from the first moment.
    void setEnvironment(MenuBarEnvironment environment);
    bool hasEnvironment() const { return m_environment.has_value(); }
    // Installed by the shell: opens the main window when there is none.
    void setOpenMainWindow(std::function<void()> openMainWindow);

    void togglePanel();
    // The panel's "more in app" and Quit.
    void openServicesSection();
    void quitFromPanel();
    void showPanel();
    void closePanel();
    void layoutPanel();
    bool isPanelVisible() const;
    MenuBarPanel *panel() const { return m_panel; }
    MenuBarStatusView *statusView() const;
    StatusItem *statusItem() const { return m_statusItem; }
    // Whether the status item is the tray icon (false: the toolbar button).
    bool usesTray() const { return m_usesTray; }

    void refreshMainWindowReference();
    QWidget *mainWindow() const { return m_mainWindow; }
    void showMainWindow(const std::function<void()> &openWindow = {});
    void openService(std::optional<QUuid> serviceId);

    QCoro::Task<bool> requestQuitConfirmation();
    // Closes the panel, locks protected data and stops every service. A second
    // call waits for the first to finish. A failure is logged and the
    // preparation still counts as done: it must not keep the process alive.
    QCoro::Task<> prepareForTermination();
    bool isPreparingTermination() const { return m_isPreparingTermination; }
    bool allowTermination() const { return m_allowTermination; }
    // Once allowed (confirmed, the panel's Quit, a termination signal), never
    // asked again.
    void setAllowTermination() { m_allowTermination = true; }

    // The status item's picture: the application icon at 18, else the gauge symbol.
    static QIcon statusImage();

Q_SIGNALS:
    // Nobody could open the main window: the shell's window binder answers it.
    void openMainWindowRequested();
    void terminationPrepared();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QCoro::Task<> togglePanelAfterStartUp();
    QCoro::Task<bool> presentQuitAlertOnActiveSpace();
    void createStatusItem();
    void placeFallbackButton();
    void checkTrayAvailability();
    void bringToFront(QWidget *window);
    QRect panelAnchor() const;
    void handlePress(const QPoint &globalPosition);
    void closeFromOutside();
    int runningServiceCount() const;

    Clock m_clock;
    std::optional<MenuBarEnvironment> m_environment;
    bool m_configured = false;
    std::function<void()> m_openMainWindow;
    StatusItem *m_statusItem = nullptr;
    bool m_usesTray = false;
    MenuBarPanel *m_panel = nullptr;
    QPointer<QWidget> m_mainWindow;
    bool m_isPreparingTermination = false;
    bool m_terminationPrepared = false;
    bool m_allowTermination = false;
    // When an outside press or a loss of activation last closed the panel: the
    // tray's own click arrives just after and must not reopen it.
    std::optional<std::chrono::steady_clock::time_point> m_closedFromOutsideAt;
};
