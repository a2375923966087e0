#pragma once

#include "records/ServiceRunRecord.h"

#include <QCoroTask>
#include <QList>
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
// controller's flag too, so the panel's Quit and this flow agree. Runs that
// could be saved neither in the history nor beside it are named before the
// application quits, with a chance to try again, unless the session itself
// is ending. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // Asks whether to quit; true quits.
    using QuitConfirmation = std::function<QCoro::Task<bool>()>;
    // Names the runs that would be lost; true tries to save them again.
    using UnsavedRunsQuestion = std::function<QCoro::Task<bool>(QList<ServiceRunRecord>)>;

    // Hands `menuBar` the container's managers when it has none yet, so that a
    // quit during start-up, before the status item exists, still stops everything.
    AppDelegate(AppEnvironment &app, MenuBarController &menuBar, QObject *parent = nullptr);

    // Where the question is asked. The default asks in the main window's quit
    // dialog; the shell and the panel's controller may put their own here.
    void setQuitConfirmation(QuitConfirmation confirmation);
    // Once true (confirmed, or allowed by the panel's own Quit or by a
    // termination signal), no further confirmation is asked.
    bool allowTermination() const;
    // The default shows a dialog with "Try Again" and "Quit Anyway".
    void setUnsavedRunsQuestion(UnsavedRunsQuestion question);
    bool isPreparingTermination() const;
    // The default question's text: the first ten runs with their service and
    // start, then how many more. Shortened, as the question shows it, each
    // name fits one line and the list names only the runs the alert has
    // lines for; a screen reader hears it whole.
    enum class RunNames { whole, shortened };
    QString unsavedRunsMessage(const QList<ServiceRunRecord> &runs, RunNames names = RunNames::whole) const;

    // The quit task. Yields false when the person cancelled; otherwise quits
    // (quitRequested) after the preparation and yields true.
    QCoro::Task<bool> requestQuit();
    // Starts the quit task and leaves it running (menu actions).
    void startQuit();
    // Quits without asking: a termination signal or the panel's own Quit.
    // A question still open is answered "no" and closed.
    void quitWithoutConfirmation();
    // As above, for a termination signal: the session is ending, so nobody is
    // left to answer a question about unsaved runs.
    void quitForEndingSession();

Q_SIGNALS:
    // Emitted once, after the preparation: the application may quit now.
    void quitRequested();

private:
    // Until every run is saved somewhere, or the person quits anyway.
    QCoro::Task<> offerToSaveLostRuns();
    QCoro::Task<bool> askAboutUnsavedRuns(QList<ServiceRunRecord> runs);
    // The message naming the first `named` runs.
    QString unsavedRunsText(const QList<ServiceRunRecord> &runs, qsizetype named, RunNames names) const;

    AppEnvironment &m_app;
    MenuBarController &m_menuBar;
    QuitConfirmation m_confirmation;
    UnsavedRunsQuestion m_unsavedRunsQuestion;
    bool m_quitRequested = false;
    bool m_sessionEnding = false;
};
