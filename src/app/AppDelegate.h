#pragma once

#include <QCoroTask>
#include <QFuture>
#include <QObject>

#include <functional>

class AppEnvironment;

// The quit flow. Every way of quitting (Ctrl+Q, File ▸ Quit, the panel, a
// termination signal) goes through requestQuit: the person confirms unless
// quitting is already allowed, then the termination preparation runs once
// (panel closed, protected data locked, every service force-stopped, pending
// terminal folders removed, run history written), and only then does the
// application quit. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // Asks whether to quit; true quits.
    using QuitConfirmation = std::function<QCoro::Task<bool>()>;

    explicit AppDelegate(AppEnvironment &app, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Where the question is asked. The default asks in the main window's quit
    // dialog; the shell and the panel's controller may put their own here.
    void setQuitConfirmation(QuitConfirmation confirmation);
    // The first step of the preparation: closing the panel, once the panel's
    // controller has put it here.
    void setClosePanel(std::function<void()> closePanel);

    // Once true (confirmed, or allowed by the panel's own Quit or by a
    // termination signal), no further confirmation is asked.
    bool allowTermination() const { return m_allowTermination; }
    void setAllowTermination() { m_allowTermination = true; }
    bool isPreparingTermination() const { return m_preparation.isValid(); }

    // The quit task. Yields false when the person cancelled; otherwise quits
    // (quitRequested) after the preparation and yields true.
    QCoro::Task<bool> requestQuit();
    // Starts the quit task and leaves it running (menu actions).
    void startQuit();
    // Quits without asking: a termination signal or the panel's own Quit.
    // A question still open is answered "no" and closed.
    void quitWithoutConfirmation();
    // Closes the panel, locks protected data and prepares the service manager
    // for the end; runs once, and every later caller awaits that same run.
    QCoro::Task<> prepareForTermination();

Q_SIGNALS:
    // Emitted once, after the preparation: the application may quit now.
    void quitRequested();

private:
    QCoro::Task<> runPreparation(QPromise<void> *done);

    AppEnvironment &m_app;
    QuitConfirmation m_confirmation;
    std::function<void()> m_closePanel;
    bool m_allowTermination = false;
    bool m_quitRequested = false;
    QPromise<void> m_preparationDone;
    QFuture<void> m_preparation;
};
