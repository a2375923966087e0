#pragma once

#include <QCoroTask>
#include <QObject>

#include <functional>

class AppEnvironment;
class MenuBarController;

// The quit flow. Every way of quitting (Ctrl+Q, File ▸ Quit, the panel, a
// termination signal) goes through requestQuit: the person confirms unless
// quitting is already allowed, then the menu-bar controller's termination
// preparation runs once (panel closed, protected data locked, every service
// force-stopped, pending terminal folders removed, run history written), and
// only then does the application quit. Whether quitting is allowed is the
// controller's flag too, so the panel's Quit and this flow agree. Main thread
// only.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // Asks whether to quit; true quits.
    using QuitConfirmation = std::function<QCoro::Task<bool>()>;

    // Hands `menuBar` the container's managers when it has none yet, so that a
    // quit during start-up, before the status item exists, still stops everything.
    AppDelegate(AppEnvironment &app, MenuBarController &menuBar, QObject *parent = nullptr);

    // Where the question is asked. The default asks in the main window's quit
    // dialog; the shell and the panel's controller may put their own here.
    void setQuitConfirmation(QuitConfirmation confirmation);
    // Once true (confirmed, or allowed by the panel's own Quit or by a
    // termination signal), no further confirmation is asked.
    bool allowTermination() const;
    bool isPreparingTermination() const;

    // The quit task. Yields false when the person cancelled; otherwise quits
    // (quitRequested) after the preparation and yields true.
    QCoro::Task<bool> requestQuit();
    // Starts the quit task and leaves it running (menu actions).
    void startQuit();
    // Quits without asking: a termination signal or the panel's own Quit.
    // A question still open is answered "no" and closed.
    void quitWithoutConfirmation();

Q_SIGNALS:
    // Emitted once, after the preparation: the application may quit now.
    void quitRequested();

private:
    AppEnvironment &m_app;
    MenuBarController &m_menuBar;
    QuitConfirmation m_confirmation;
    bool m_quitRequested = false;
};
