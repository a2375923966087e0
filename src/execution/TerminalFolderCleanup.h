#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

// Removes the folders of terminal launch scripts once their script has had
// time to start. A script removes itself and its folder first thing; this is
// for scripts that never ran (a terminal that failed after it started, say).
// Folders still waiting for their removal when the application quits are
// removed at once by removePendingNow(), and in any case when the instance
// goes (for shared(), when the process ends normally), so no script with
// clear-text secrets is left behind.
class TerminalFolderCleanup {
public:
    static constexpr std::chrono::seconds delay {30};

    // The application's one instance.
    static TerminalFolderCleanup &shared();

    TerminalFolderCleanup();
    ~TerminalFolderCleanup();
    TerminalFolderCleanup(const TerminalFolderCleanup &) = delete;
    TerminalFolderCleanup &operator=(const TerminalFolderCleanup &) = delete;

    // Removes the folder `after` from now, off the main thread; a failure (the
    // script already removed it, say) is ignored. Needs the main event loop.
    void schedule(const QString &folder, std::chrono::milliseconds after = delay);
    // The quit-time clean-up: removes every folder whose removal is still waiting.
    void removePendingNow();
    // The start-up clean-up: removes the script folders in `baseFolders` that
    // an earlier run left behind when it ended before their clean-up (killed,
    // say), since their scripts hold secret values in clear. Only folders
    // named as ours, owned by this user and not symbolic links, and none that
    // this instance still waits to remove.
    void removeStaleFolders(const QStringList &baseFolders);
    QStringList pendingFolders() const;

private:
    struct Pending;
    std::shared_ptr<Pending> m_pending;
};

// Schedules the removal of a terminal script folder 30 seconds from now.
void scheduleTerminalFolderCleanup(const QString &folder);

// The application's start-up call: removes the script folders an earlier run
// left in $XDG_RUNTIME_DIR and in the temporary folder. Call it once this
// process is known to be the one running instance.
void removeStaleTerminalFolders();

// Where script folders are made ($XDG_RUNTIME_DIR when usable) and the
// temporary folder, which is used when it is not.
QStringList terminalScriptBaseFolders();

// Removes a script folder and its script. A symbolic link put in the folder's
// place is never followed, and a folder holding anything else stays.
void removeTerminalFolder(const QString &folder);
