#pragma once

#include "app/AppDelegate.h"
#include "app/AppEnvironment.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "execution/TerminalFolderCleanup.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeSecretStore.h"
#include "support/FakeTerminalLauncher.h"
#include "support/Await.h"
#include "support/KeyringTestLock.h"
#include "support/LogCapture.h"
#include "support/StatusNotifierHost.h"
#include "support/TestEnvironment.h"
#include "support/XvfbServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

class SettingsWindow;

// A new user's first hour with Velmora: the whole application (container,
// every manager, the real main window) in this process, driven only through
// its widgets, on the real parts wherever the machine has them: the keyring
// of the private test session, xterm (on its own Xvfb when the walk draws
// offscreen), a tray host on the session bus when the walk draws on X, and
// the account password checked by PAM. For that last one a walk started as
// root creates a throwaway account and walks again as that account, in a
// session of its own; elsewhere a stand-in authenticator answers. Every step
// leaves a picture in walk/ when pictures are asked for.
class FirstHourWalk : public ::testing::Test {
protected:
    static inline const QString secretValue = QStringLiteral("s3cr3t-velmora-token");
    static inline const QString sudoPassword = QStringLiteral("hunter2-velmora");

    FirstHourWalk();
    ~FirstHourWalk() override;

    // As root: the walk, as a throwaway account; otherwise every step in
    // turn, stopping at the first that fails.
    void walk();
    void walkEveryStep();
    void walkAsThrowawayAccount();
    // The real parts this machine offers, set up before the application starts.
    void prepareRealParts();
    bool checksTheAccountPassword() const { return !accountPassword.isEmpty(); }

    // The steps, in the order a person takes them; each one checks what it did.
    void firstStart();
    void createServiceInTheEditor();
    void startWatchAndStop();
    void reviewDangerousCommands();
    void giveASudoPassword();
    void keepASecretInAProfile();
    void openInATerminal();
    void unlockAProtectedProfile();
    void unlockWithTheAccountPassword();
    void unlockWithTheStandInAuthenticator();
    // Once the session has run out, the next start asks again: `prompted` says
    // whether the password prompt came, `answerPrompt` answers it rightly.
    void startAgainAfterTheSessionExpired(const std::function<bool()> &prompted,
                                          const std::function<void()> &answerPrompt);
    void useTheTrayPanel();
    void quitWithRunningServices();
    void startAgainWithEverythingKept();

    // The application as main() builds it, on the (fresh or kept) data folder.
    void launch();
    // Ends the application the way the process ending would: window, flow, container.
    void shutDown();
    // Writes the stand-in for sudo; returns its path.
    QString installFakeSudo() const;

    // The one visible widget of type T, in any window, whose object name,
    // accessible name or text is `key`, once it shows; fails the test when
    // none shows within a few seconds.
    template <typename T = QWidget>
    T &find(const QString &key, QWidget *within = nullptr) const
    {
        T *found = nullptr;
        waitUntil([&] { return (found = findVisible<T>(key, within)) != nullptr; });
        if (found)
            return *found;
        throw std::runtime_error("no visible widget \"" + key.toStdString() + "\"");
    }
    template <typename T = QWidget>
    T *findVisible(const QString &key, QWidget *within = nullptr) const
    {
        const QList<QWidget *> roots = within ? QList<QWidget *> {within} : QApplication::topLevelWidgets();
        // Names first, then shown texts: a field's label never stands in for the field.
        for (const Match match : {Match::name, Match::text}) {
            for (QWidget *root : roots) {
                QList<T *> candidates = root->findChildren<T *>();
                if (auto *self = qobject_cast<T *>(root))
                    candidates.prepend(self);
                for (T *candidate : candidates) {
                    if (candidate->isVisible() && matches(*candidate, key, match))
                        return candidate;
                }
            }
        }
        return nullptr;
    }
    // An empty key matches any widget of the type.
    enum class Match { name, text };
    static bool matches(QWidget &widget, const QString &key, Match match);

    void click(QWidget &widget) const;
    void click(const QString &key) const { click(find(key)); }
    void type(const QString &key, const QString &text, QWidget *within = nullptr) const;
    // Runs the event loop until `condition` holds; fails the test after `timeoutMs`.
    void waitFor(const std::function<bool()> &condition, const char *what, int timeoutMs = 10000) const;
    // Writes the main window (or the given window) as walk/<name>.png on a picture run.
    void picture(const QString &name, QWidget *widget = nullptr) const;

    // Step helpers.
    SettingsWindow &openSettings();
    void showSection(const QString &title);
    void createService(const QString &name, const QString &command, const QString &profile = {},
                       bool inTerminal = false);
    void selectService(const QString &name);
    // Opens the tray panel the way this desktop offers it: the tray icon, or
    // the main window's toolbar button where there is no tray.
    void openPanel();
    void closePanel();
    // The tray panel's start/stop button of a service.
    QAbstractButton &panelToggle(const QString &service);
    // Types into the account's password prompt and presses Unlock.
    void answerPasswordPrompt(const QString &password);
    QString liveOutput() const;
    // The number of recorded runs of a service.
    int runsOf(const QString &service) const;
    // Every file of the data folder that holds this text.
    QStringList dataFilesHolding(const QString &text) const;
    // Every label, button text, tooltip, title and accessible name that shows this text.
    QStringList widgetsShowing(const QString &text) const;

    // Set only in the walk as a throwaway account: its password, for PAM.
    QString accountPassword;
    std::shared_ptr<FakeAuthenticator> authenticator = std::make_shared<FakeAuthenticator>();
    // The private session's keyring when there is one (then these two stay unused).
    std::optional<KeyringTestLock> keyring;
    std::shared_ptr<FakeProtectedKeyProvider> keys = std::make_shared<FakeProtectedKeyProvider>();
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    // Notes each script and opens it in xterm, or runs it at once where no xterm can show.
    std::shared_ptr<FakeTerminalLauncher> terminal = std::make_shared<FakeTerminalLauncher>();
    bool opensXterm = false;
    std::unique_ptr<XvfbServer> terminalDisplay;
    std::unique_ptr<StatusNotifierHost> trayHost;
    TerminalFolderCleanup terminalCleanup;
    LogCapture logs;
    // The stand-in for sudo, which notes every line it reads in its log.
    QTemporaryDir sudoFolder {TestEnvironment::temporaryFolderTemplate(QStringLiteral("tests_acceptance"))};
    QString sudoLog() const { return sudoFolder.filePath(QStringLiteral("sudo.log")); }
    // The protected-data session's clock, moved on by hand.
    QDateTime lockNow = QDateTime::currentDateTimeUtc();

    std::unique_ptr<AppEnvironment> app;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MenuBarController> menuBar;
    int quits = 0;
    // Process groups of the services left running for the quit step.
    QList<qint32> runningGroups;
};
