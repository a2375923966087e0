#include "FirstHourWalk.h"

#include "app/ContentView.h"
#include "app/MenuBarPanel.h"
#include "app/SettingsWindow.h"
#include "execution/ServiceManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "records/ApplicationSupport.h"
#include "records/ProtectedProfilesError.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"
#include "support/Await.h"
#include "support/ProcessGroups.h"
#include "support/Screenshots.h"
#include "support/TestEnvironment.h"
#include "ui/components/ConsoleOutputView.h"
#include "ui/components/MetricCard.h"
#include "ui/components/ThemeManager.h"
#include "ui/menubar/MenuServiceRow.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"
#include "ui/menubar/MenuUsageLine.h"
#include "ui/menubar/MenuToggleGlyphButton.h"
#include "ui/platform/PasswordPromptDialog.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/components/StatusBadge.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/SegmentedPicker.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunOutputSheet.h"
#include "ui/screens/services/SudoPasswordPromptView.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QScrollArea>
#include <QProcess>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <cstdio>

#include <sys/stat.h>

namespace {

template <typename T>
T &present(T *object, const char *what)
{
    if (!object)
        throw std::runtime_error(std::string("missing: ") + what);
    return *object;
}

const QString emDash = QStringLiteral("\u2014");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    file.write(bytes);
}

QStringList outcomes(QWidget &detail)
{
    QStringList texts;
    for (StatusBadge *badge : detail.findChildren<StatusBadge *>(QStringLiteral("outcomeBadge"))) {
        if (badge->isVisible())
            texts.append(badge->text());
    }
    return texts;
}

} // namespace

// --- step helpers ----------------------------------------------------------

void FirstHourWalk::showSection(const QString &title)
{
    const QWidget *before = window->contentView()->detailScreen();
    click(find<SelectableSidebarRow>(title));
    waitFor(
        [&] {
            const QWidget *screen = window->contentView()->detailScreen();
            return screen && screen != before && screen->isVisible();
        },
        "the section's screen");
}

void FirstHourWalk::createService(const QString &name, const QString &command, const QString &profile, bool inTerminal)
{
    click(QStringLiteral("Create Service"));
    auto &editor = find<ServiceEditorView>({});
    type(QStringLiteral("Name"), name, &editor);
    type(QStringLiteral("Shell Command"), command, &editor);
    if (!profile.isEmpty()) {
        auto &picker = find<QComboBox>(QStringLiteral("Profile"), &editor);
        picker.setFocus();
        for (int i = 0; i < picker.count() && picker.currentText() != profile; ++i)
            QTest::keyClick(&picker, Qt::Key_Down);
        EXPECT_EQ(picker.currentText(), profile);
    }
    if (inTerminal) {
        auto &launch = find<QComboBox>(QStringLiteral("Launch Option"), &editor);
        launch.setFocus();
        QTest::keyClick(&launch, Qt::Key_Down);
        EXPECT_EQ(launch.currentText(), QStringLiteral("Terminal"));
    }
    click(find(QStringLiteral("Save"), &editor));
    selectService(name);
}

void FirstHourWalk::selectService(const QString &name)
{
    auto &list = find<QListView>(QStringLiteral("serviceList"));
    QModelIndex row;
    waitFor(
        [&] {
            const QModelIndexList found =
                list.model()->match(list.model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly);
            row = found.value(0);
            return row.isValid();
        },
        "the service in the list");
    list.scrollTo(row);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(row).center());
    waitFor([&] { return find<QLabel>(QStringLiteral("title")).text() == name; }, "the service's detail");
}

QAbstractButton &FirstHourWalk::panelToggle(const QString &service)
{
    MenuBarPanel &panel = present(menuBar->panel(), "the tray panel");
    MenuToggleGlyphButton *toggle = nullptr;
    waitFor(
        [&] {
            for (MenuServiceRow *row : panel.findChildren<MenuServiceRow *>()) {
                if (row->isVisible() && row->service().name == service)
                    toggle = row->toggleButton();
            }
            return toggle != nullptr;
        },
        "the service's row in the panel");
    return *toggle;
}

int FirstHourWalk::runsOf(const QString &service) const
{
    for (const ManagedService &candidate : app->serviceManager().services()) {
        if (candidate.name == service)
            return int(app->runHistoryManager().records(candidate.id).size());
    }
    return 0;
}

QString FirstHourWalk::liveOutput() const
{
    return find<ConsoleOutputView>(QStringLiteral("liveOutput")).text();
}

SettingsWindow &FirstHourWalk::openSettings()
{
    // File ▸ Settings…
    for (QAction *action : window->menuBar()->findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("Settings…"))
            action->trigger();
    }
    return present(window->settingsWindow(), "the Settings window");
}

// --- the steps -------------------------------------------------------------

void FirstHourWalk::firstStart()
{
    launch();
    ContentView &content = *window->contentView();
    // The logo fades in first, the spinner after it: the picture shows both.
    waitFor(
        [&] {
            const LaunchSplashView *splash = content.splash();
            return splash && splash->isVisible() && splash->isLogoVisible() && splash->isSpinnerVisible();
        },
        "the splash's logo and spinner");
    QTest::qWait(400);
    picture(QStringLiteral("01-splash"));
    waitFor([&] { return !content.splash(); }, "the splash to give way", 10000);

    auto *dashboard = qobject_cast<DashboardView *>(content.detailScreen());
    ASSERT_NE(dashboard, nullptr) << "the first screen is the dashboard";
    const QList<ServiceStatusActionCard *> cards = dashboard->findChildren<ServiceStatusActionCard *>();
    ASSERT_EQ(cards.size(), 3);
    for (const ServiceStatusActionCard *card : cards)
        EXPECT_EQ(card->count(), 0);

    struct stat folder {};
    ASSERT_EQ(::stat(QFile::encodeName(applicationSupportDirectory()).constData(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    picture(QStringLiteral("01-dashboard"));

    // The person picks their shell in Settings.
    SettingsWindow &settings = openSettings();
    auto &shell = find<QLineEdit>(QStringLiteral("Default Shell"), &settings);
    shell.selectAll();
    QTest::keyClicks(&shell, QStringLiteral("/bin/bash"));
    click(find(QStringLiteral("saveSettingsButton"), &settings));
    waitFor([&] { return app->settings().defaultShell == QStringLiteral("/bin/bash"); }, "the saved shell");
    if (QWidget *saved = findVisible(QStringLiteral("savedAlert")))
        click(find(QStringLiteral("OK"), saved));
    settings.close();
}

void FirstHourWalk::createServiceInTheEditor()
{
    // A script of the person's own, picked in the file dialog.
    const QString script = TestEnvironment::home() + QStringLiteral("/scripts/ticker.sh");
    writeFile(script, "i=0\nwhile true; do i=$((i+1)); echo \"tick $i\"; sleep 0.02; done\n");

    showSection(QStringLiteral("Services"));
    click(QStringLiteral("Create Service"));
    auto &editor = find<ServiceEditorView>({});
    type(QStringLiteral("Name"), QStringLiteral("ticker"), &editor);
    type(QStringLiteral("Shell Command"), QStringLiteral("sh "), &editor);
    click(find(QStringLiteral("insertPathButton"), &editor));
    auto &picker = find<QFileDialog>({});
    auto &fileName = find<QLineEdit>(QStringLiteral("fileNameEdit"), &picker);
    fileName.setFocus();
    // Pasted, as a path copied from elsewhere.
    QGuiApplication::clipboard()->setText(script);
    QTest::keyClick(&fileName, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&fileName, Qt::Key_Return);
    auto &command = find<QTextEdit>(QStringLiteral("Shell Command"), &editor);
    waitFor([&] { return command.toPlainText() == QStringLiteral("sh ") + script; }, "the picked path in the command");
    picture(QStringLiteral("02-editor"), &editor);
    click(find(QStringLiteral("Save"), &editor));
    selectService(QStringLiteral("ticker"));

    auto &list = find<QListView>(QStringLiteral("serviceList"));
    auto rows = [&] { return list.model()->rowCount(); };
    type(QStringLiteral("Search by name"), QStringLiteral("tick"));
    EXPECT_EQ(rows(), 1);
    type(QStringLiteral("Search by name"), QStringLiteral("zz"));
    EXPECT_EQ(rows(), 0);
    click(QStringLiteral("Clear search"));
    EXPECT_EQ(rows(), 1);

    auto &filter = find<SegmentedPicker>(QStringLiteral("Filter"));
    QTest::mouseClick(&filter, Qt::LeftButton, {},
                      filter.segmentRect(int(filter.labels().indexOf(QStringLiteral("Running")))).center());
    EXPECT_EQ(rows(), 0) << "a stopped service is not among the running ones";
    QTest::mouseClick(&filter, Qt::LeftButton, {}, filter.segmentRect(0).center());
    EXPECT_EQ(rows(), 1);
    picture(QStringLiteral("02-list"));
}

void FirstHourWalk::startWatchAndStop()
{
    selectService(QStringLiteral("ticker"));
    click(QStringLiteral("startButton"));
    waitFor([&] { return liveOutput().contains(QStringLiteral("tick 5\n")); }, "live output");
    const qsizetype seen = liveOutput().count(QLatin1Char('\n'));
    waitFor([&] { return liveOutput().count(QLatin1Char('\n')) > seen + 20; }, "more live output");
    QScrollBar &scroll = *find<ConsoleOutputView>(QStringLiteral("liveOutput")).textView()->verticalScrollBar();
    waitFor([&] { return scroll.maximum() > 0 && scroll.value() == scroll.maximum(); }, "the output to follow its end");

    auto figure = [&](const char *card) { return find<MetricCard>(QString::fromLatin1(card)).value(); };
    // A running shell holds memory: "0 bytes" is no figure yet.
    waitFor(
        [&] {
            return figure("cpuCard") != emDash
                   && !QStringList {emDash, QStringLiteral("0 bytes")}.contains(figure("ramCard"));
        },
        "CPU and memory figures", 2000);
    picture(QStringLiteral("03-running"));

    click(QStringLiteral("stopButton"));
    auto &detail = find(QStringLiteral("serviceDetailView"));
    click(QStringLiteral("Run History"));
    waitFor([&] { return outcomes(detail) == QStringList {QStringLiteral("Stopped")}; },
            "the stopped run in the history");
    // The person scrolls down to the run.
    QWidget *run = detail.findChild<StatusBadge *>(QStringLiteral("outcomeBadge"));
    while (run && !qobject_cast<ServiceRunHistoryRow *>(run))
        run = run->parentWidget();
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(waitUntil([&] { return animationsSettled(detail); })); // the section's reveal
    for (QWidget *ancestor = run; ancestor; ancestor = ancestor->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(ancestor))
            area->ensureWidgetVisible(run, 0, 24);
    }
    waitFor([&] { return run->visibleRegion().boundingRect().height() == run->height(); }, "the whole run on screen");
    picture(QStringLiteral("03-history"));

    click(QStringLiteral("outputButton"));
    auto &sheet = find<ServiceRunOutputSheet>({});
    // The output is read back from the history file.
    waitFor(
        [&] {
            return find<ConsoleOutputView>(QStringLiteral("console"), &sheet)
                .text()
                .contains(QStringLiteral("tick 5\n"));
        },
        "the run's output in the sheet");
    picture(QStringLiteral("03-output-sheet"), &sheet);
    click(find(QStringLiteral("Copy"), &sheet));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("tick 1\n")));
    click(find(QStringLiteral("Close"), &sheet));
}

void FirstHourWalk::reviewDangerousCommands()
{
    // A command that reads a key file: reviewed, then run on the person's word.
    createService(QStringLiteral("key-check"), QStringLiteral("ls ~/.ssh/id_rsa; echo reviewed"));
    click(QStringLiteral("startButton"));
    auto &review = find<CommandThreatReviewView>({});
    picture(QStringLiteral("04-review"), &review);
    click(find(QStringLiteral("runAnywayButton"), &review));
    auto &detail = find(QStringLiteral("serviceDetailView"));
    click(QStringLiteral("Run History"));
    waitFor([&] { return outcomes(detail).size() == 1; }, "the reviewed run in the history");
    EXPECT_NE(outcomes(detail).first(), QStringLiteral("Blocked"));

    // A command that formats a disk: blocked, with no way to run it, and recorded.
    createService(QStringLiteral("wipe"), QStringLiteral("mkfs.ext4 /tmp/velmora-walk-no-such-device"));
    click(QStringLiteral("startButton"));
    auto &blocked = find<CommandThreatReviewView>({});
    EXPECT_EQ(findVisible(QStringLiteral("runAnywayButton"), &blocked), nullptr);
    picture(QStringLiteral("04-blocked"), &blocked);
    click(find(QStringLiteral("cancelButton"), &blocked));
    click(QStringLiteral("Run History"));
    waitFor([&] { return outcomes(detail) == QStringList {QStringLiteral("Blocked")}; },
            "the blocked run in the history");
}

void FirstHourWalk::giveASudoPassword()
{
    createService(QStringLiteral("admin"), QStringLiteral("sudo -n true; echo admin-done"));
    click(QStringLiteral("startButton"));
    // A privileged command is reviewed first, then asks for the password.
    click(find(QStringLiteral("runAnywayButton"), &find<CommandThreatReviewView>({})));
    auto &sheet = find<SudoPasswordPromptView>({});
    type(QStringLiteral("Password"), sudoPassword, &sheet);
    picture(QStringLiteral("05-sudo"), &sheet);
    click(find(QStringLiteral("launchButton"), &sheet));
    waitFor([&] { return runsOf(QStringLiteral("admin")) == 1; }, "the sudo run to end", 15000);
    if (QWidget *alert = findVisible<QMessageBox>({}))
        click(find(QStringLiteral("OK"), alert));
    click(QStringLiteral("Run History"));
    picture(QStringLiteral("05-sudo-run"));

    QFile sudoRead(sudoLog());
    ASSERT_TRUE(sudoRead.open(QIODevice::ReadOnly));
    EXPECT_EQ(sudoRead.readAll(), sudoPassword.toUtf8() + '\n') << "the password reaches sudo once";
    for (const ManagedService &service : app->serviceManager().services()) {
        if (service.name == QStringLiteral("admin")) {
            const QUuid run = app->runHistoryManager().records(service.id).value(0).id;
            EXPECT_TRUE(await(app->runHistoryManager().runOutput(run)).contains(QStringLiteral("admin-done")));
        }
    }
    EXPECT_EQ(widgetsShowing(sudoPassword), QStringList {});
    EXPECT_FALSE(liveOutput().contains(sudoPassword));
    EXPECT_EQ(dataFilesHolding(sudoPassword), QStringList {});
    EXPECT_FALSE(logs.contains(sudoPassword));
}

void FirstHourWalk::keepASecretInAProfile()
{
    // The value the child must see, kept outside the data folder for the check.
    writeFile(TestEnvironment::home() + QStringLiteral("/expected-token"), secretValue.toUtf8());

    showSection(QStringLiteral("Environment Profiles"));
    click(QStringLiteral("createProfileButton"));
    auto &editor = find<ProfileEditorView>({});
    type(QStringLiteral("Name"), QStringLiteral("Production"), &editor);
    click(find(QStringLiteral("addVariableButton"), &editor));
    type(QStringLiteral("Key"), QStringLiteral("API_TOKEN"), &editor);
    type(QStringLiteral("Value"), secretValue, &editor);
    click(find(QStringLiteral("secretToggle"), &editor));
    picture(QStringLiteral("06-profile-editor"), &editor);
    click(find(QStringLiteral("Save"), &editor));
    waitFor([&] { return findVisible(QStringLiteral("profileDetail")) != nullptr; }, "the new profile's detail");
    picture(QStringLiteral("06-profile"));

    showSection(QStringLiteral("Services"));
    createService(QStringLiteral("token-check"),
                  QStringLiteral("printf %s \"$API_TOKEN\" | cmp -s - ~/expected-token && echo token-ok; sleep 60"),
                  QStringLiteral("Production"));
    click(QStringLiteral("startButton"));
    waitFor([&] { return liveOutput().contains(QStringLiteral("token-ok")); }, "the child to see the secret");
    picture(QStringLiteral("06-service-with-profile"));

    EXPECT_EQ(widgetsShowing(secretValue), QStringList {});
    EXPECT_EQ(dataFilesHolding(secretValue), QStringList {});
    EXPECT_FALSE(logs.contains(secretValue));
}

void FirstHourWalk::openInATerminal()
{
    const QString seen = TestEnvironment::home() + QStringLiteral("/terminal-saw-token");
    // The pause keeps xterm's window up for the picture.
    createService(QStringLiteral("console"),
                  QStringLiteral("printf %s \"$API_TOKEN\" | cmp -s - ~/expected-token && echo ok > "
                                 "~/terminal-saw-token && echo 'The profile reached the terminal.'; sleep 2"),
                  QStringLiteral("Production"), true);
    click(QStringLiteral("startButton"));
    waitFor([&] { return QFile::exists(seen); }, "the terminal's run to see the profile", 20000);
    ASSERT_EQ(terminal->launched.size(), 1);
    EXPECT_TRUE(terminal->succeeds);
    // The script, with the secret in clear, removes itself and its folder first thing.
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(terminal->launched.constFirst()).absolutePath()));
    picture(QStringLiteral("08-terminal"));
    // The terminal's own window, while its command still pauses.
    if (opensXterm && !Screenshots::directory().isEmpty() && QGuiApplication::platformName() == QStringLiteral("xcb"))
        Screenshots::saveWindowOfClass(QStringLiteral("XTerm"), QStringLiteral("walk/08-xterm"));
}

void FirstHourWalk::unlockAProtectedProfile()
{
    showSection(QStringLiteral("Environment Profiles"));
    click(QStringLiteral("createProfileButton"));
    auto &editor = find<ProfileEditorView>({});
    type(QStringLiteral("Name"), QStringLiteral("Vault"), &editor);
    QWidget &protect = find(QStringLiteral("protectedToggle"), &editor);
    protect.setFocus();
    QTest::keyClick(&protect, Qt::Key_Space);
    click(find(QStringLiteral("addVariableButton"), &editor));
    type(QStringLiteral("Key"), QStringLiteral("DB_NAME"), &editor);
    type(QStringLiteral("Value"), QStringLiteral("ledger"), &editor);
    click(find(QStringLiteral("Save"), &editor));
    // Sealing the first protected profile needs the session: the account password, asked once.
    if (checksTheAccountPassword()) {
        waitFor([&] { return findVisible<PasswordPromptDialog>({}) != nullptr; }, "the password to seal the profile");
        answerPasswordPrompt(accountPassword);
    }
    waitFor([&] { return findVisible<QLabel>(QStringLiteral("Vault")) != nullptr; }, "the protected profile");

    showSection(QStringLiteral("Services"));
    createService(QStringLiteral("vault-check"), QStringLiteral("echo \"vault:$DB_NAME\""), QStringLiteral("Vault"));
    click(QStringLiteral("protectedDataLockButton"));
    selectService(QStringLiteral("ticker"));
    if (checksTheAccountPassword())
        unlockWithTheAccountPassword();
    else
        unlockWithTheStandInAuthenticator();
}

void FirstHourWalk::startAgainAfterTheSessionExpired(const std::function<bool()> &prompted,
                                                     const std::function<void()> &answerPrompt)
{
    lockNow = lockNow.addSecs(ProtectedProfilesLockManager::sessionDurationSeconds + 1);
    // Through the window, as real input comes: the press on an expired session
    // locks it, so the service may show locked before the click lands.
    QWidget &start = find(QStringLiteral("startButton"));
    QWidget &top = *start.window();
    QTest::mouseClick(top.windowHandle(), Qt::LeftButton, {}, start.mapTo(&top, start.rect().center()));
    waitFor([&] { return prompted() || findVisible(QStringLiteral("unlockButton")) != nullptr; },
            "the service to lock after expiry");
    picture(QStringLiteral("07-expired"));
    if (!prompted())
        click(QStringLiteral("unlockButton"));
    answerPrompt();
    waitFor([&] { return findVisible(QStringLiteral("startButton")) != nullptr; }, "the service to unlock again");
    if (runsOf(QStringLiteral("vault-check")) == 1)
        click(QStringLiteral("startButton"));
    waitFor([&] { return runsOf(QStringLiteral("vault-check")) == 2; }, "the protected run after expiry");
}

void FirstHourWalk::unlockWithTheAccountPassword()
{
    // Selecting the service asks for the password; a wrong one is refused in the prompt.
    selectService(QStringLiteral("vault-check"));
    auto promptGone = [&] { return findVisible<PasswordPromptDialog>({}) == nullptr; };
    picture(QStringLiteral("07-prompt"), &find<PasswordPromptDialog>({}));
    answerPasswordPrompt(accountPassword + QStringLiteral("-wrong"));
    waitFor([&] { return findVisible<QLabel>(QStringLiteral("That password is incorrect. Try again.")) != nullptr; },
            "the wrong password to be refused", 15000);
    picture(QStringLiteral("07-refused"), &find<PasswordPromptDialog>({}));
    answerPasswordPrompt(accountPassword);
    waitFor(promptGone, "the right password to be accepted", 15000);
    waitFor([&] { return findVisible(QStringLiteral("startButton")) != nullptr; }, "the service to unlock");
    click(QStringLiteral("startButton"));
    click(QStringLiteral("Run History"));
    waitFor([&] { return runsOf(QStringLiteral("vault-check")) == 1; }, "the protected run");
    picture(QStringLiteral("07-unlocked"));

    startAgainAfterTheSessionExpired([&] { return findVisible<PasswordPromptDialog>({}) != nullptr; },
                                     [&] {
                                         answerPasswordPrompt(accountPassword);
                                         waitFor(promptGone, "the password after expiry", 15000);
                                     });
    EXPECT_EQ(dataFilesHolding(accountPassword), QStringList {});
    EXPECT_FALSE(logs.contains(accountPassword));
}

void FirstHourWalk::unlockWithTheStandInAuthenticator()
{
    // It answers at once, refusing while it is told to.
    const qsizetype promptsBefore = authenticator->prompts.size();
    authenticator->failure = ProtectedProfilesError::Case::authenticationFailed;
    selectService(QStringLiteral("vault-check"));
    waitFor([&] { return authenticator->prompts.size() == promptsBefore + 1; }, "the password prompt");
    if (QWidget *alert = findVisible<QMessageBox>({}))
        click(find(QStringLiteral("OK"), alert));
    QWidget &unlock = find(QStringLiteral("unlockButton"));
    picture(QStringLiteral("07-locked"));

    authenticator->failure.reset();
    click(unlock);
    waitFor([&] { return findVisible(QStringLiteral("unlockButton")) == nullptr; }, "the service to unlock");
    EXPECT_EQ(authenticator->prompts.size(), promptsBefore + 2);
    click(QStringLiteral("startButton"));
    click(QStringLiteral("Run History"));
    waitFor([&] { return runsOf(QStringLiteral("vault-check")) == 1; }, "the protected run");
    picture(QStringLiteral("07-unlocked"));

    startAgainAfterTheSessionExpired([&] { return authenticator->prompts.size() > promptsBefore + 2; },
                                     [&] {
                                         waitFor([&] { return authenticator->prompts.size() == promptsBefore + 3; },
                                                 "the password prompt after expiry");
                                     });
    EXPECT_EQ(authenticator->prompts.size(), promptsBefore + 3);
}

void FirstHourWalk::useTheTrayPanel()
{
    openPanel();
    MenuBarPanel &panel = present(menuBar->panel(), "the tray panel");
    // The memory a running service's row shows.
    auto ramShown = [&](const QString &service) {
        for (MenuServiceRow *row : panel.findChildren<MenuServiceRow *>()) {
            if (row->service().name == service)
                return row->usageLine()->pairValue(2);
        }
        return QString();
    };
    waitFor([&] { return ramShown(QStringLiteral("token-check")) != QStringLiteral("0 bytes"); },
            "the panel's figures of a running service", 3000);

    // Start from the panel; the review of a key-reading command comes up inside it.
    click(panelToggle(QStringLiteral("ticker")));
    waitFor([&] { return panelToggle(QStringLiteral("ticker")).accessibleName() == QStringLiteral("Stop ticker"); },
            "the panel's service to run");
    picture(QStringLiteral("09-panel"), &panel);
    click(panelToggle(QStringLiteral("ticker")));
    waitFor([&] { return panelToggle(QStringLiteral("ticker")).accessibleName() == QStringLiteral("Start ticker"); },
            "the panel's service to stop");

    click(panelToggle(QStringLiteral("key-check")));
    QWidget &runAnyway = find(QStringLiteral("Run Anyway"), &panel);
    picture(QStringLiteral("09-panel-review"), &panel);
    click(runAnyway);
    waitFor([&] { return runsOf(QStringLiteral("key-check")) == 2; }, "the reviewed run from the panel");

    // A sudo command: reviewed, then its password, both inside the panel.
    click(panelToggle(QStringLiteral("admin")));
    click(find(QStringLiteral("Run Anyway"), &panel));
    auto &prompt = find<MenuSudoPasswordPromptView>({}, &panel);
    type(QStringLiteral("Sudo Password"), sudoPassword, &prompt);
    picture(QStringLiteral("09-panel-sudo"), &panel);
    click(find(QStringLiteral("Start"), &prompt));
    waitFor([&] { return runsOf(QStringLiteral("admin")) == 2; }, "the sudo run from the panel", 15000);
    EXPECT_EQ(widgetsShowing(sudoPassword), QStringList {});

    // Leaves the first service running for the quit.
    click(panelToggle(QStringLiteral("ticker")));
    waitFor([&] { return panelToggle(QStringLiteral("ticker")).accessibleName() == QStringLiteral("Stop ticker"); },
            "the panel's service to run again");
    closePanel();
}

void FirstHourWalk::quitWithRunningServices()
{
    // Three running services (one started from the panel), one of them with children of its own.
    createService(QStringLiteral("workers"), QStringLiteral("sleep 60 & sleep 60 & wait"));
    click(QStringLiteral("startButton"));
    waitFor([&] { return app->runningServiceCount() == 3; }, "three running services");
    for (const ServiceRuntimeInfo &runtime : app->serviceManager().runtime()) {
        if (runtime.pid)
            runningGroups.append(*runtime.pid);
    }
    ASSERT_EQ(runningGroups.size(), 3);

    // Evening comes: the person turns on the dark appearance, which a restart keeps.
    SettingsWindow &settings = openSettings();
    QWidget &darkMode = find(QStringLiteral("darkModeToggle"), &settings);
    darkMode.setFocus();
    QTest::keyClick(&darkMode, Qt::Key_Space);
    waitFor([&] { return ThemeManager::instance().isDark(); }, "the dark appearance");
    settings.close();

    // Quit from the tray panel, with the main window closed as a person leaves
    // it (without a tray, the panel's button lives in that window).
    if (menuBar->usesTray())
        window->close();
    openPanel();
    MenuBarPanel &panel = present(menuBar->panel(), "the tray panel");
    click(find(QStringLiteral("Quit"), &panel));
    QWidget &terminate = find(QStringLiteral("Quit & Terminate"), &panel);
    EXPECT_NE(findVisible<QLabel>(QStringLiteral("All 3 running services will be terminated."), &panel), nullptr);
    picture(QStringLiteral("10-quit"), &panel);
    click(terminate);
    waitFor([&] { return quits == 1; }, "the application to quit", 20000);

    EXPECT_FALSE(anyProcessInGroups(runningGroups));
    // The terminal's private script folder (with the secret in clear) is gone.
    EXPECT_FALSE(terminal->launched.isEmpty() || QFileInfo(terminal->launched.constFirst()).dir().exists());
    const QList<ServiceRunRecord> runs =
        await(ServiceRunHistoryRepository(applicationSupportDirectory() + QStringLiteral("/run-history.json")).load());
    // ticker three times, key-check, admin and vault-check twice, wipe (blocked), token-check, workers.
    EXPECT_EQ(runs.size(), 12);
    EXPECT_EQ(
        std::count_if(runs.begin(), runs.end(),
                      [](const ServiceRunRecord &run) { return run.stopReason == ServiceRunStopReason::forceKilled; }),
        3);
    // The profile's secret is recorded with the run, masked.
    const QList<ServiceRunEnvironmentEntry> masked {
        {QStringLiteral("API_TOKEN"), ServiceRunEnvironmentEntry::secretMask, true}};
    EXPECT_TRUE(
        std::any_of(runs.begin(), runs.end(), [&](const ServiceRunRecord &run) { return run.environment == masked; }));
    for (const QString &secret : {secretValue, sudoPassword}) {
        EXPECT_EQ(dataFilesHolding(secret), QStringList {});
        EXPECT_FALSE(logs.contains(secret));
    }
}

void FirstHourWalk::startAgainWithEverythingKept()
{
    shutDown();
    // The look comes back from the settings, not from what this process last showed.
    ThemeManager::instance().apply(AppAppearanceMode::light);
    launch();
    waitFor([&] { return !window->contentView()->splash(); }, "the splash to give way", 10000);
    EXPECT_EQ(app->settings().defaultShell, QStringLiteral("/bin/bash"));
    EXPECT_EQ(app->settings().appearanceMode, AppAppearanceMode::dark);
    EXPECT_TRUE(ThemeManager::instance().isDark());

    showSection(QStringLiteral("Services"));
    EXPECT_EQ(find<QListView>(QStringLiteral("serviceList")).model()->rowCount(), 8);
    selectService(QStringLiteral("ticker"));
    auto &detail = find(QStringLiteral("serviceDetailView"));
    click(QStringLiteral("Run History"));
    waitFor([&] { return outcomes(detail).size() == 3; }, "every run of the first service");
    picture(QStringLiteral("11-services-again"));

    showSection(QStringLiteral("Environment Profiles"));
    auto &profiles = find<QListView>(QStringLiteral("Environment Profiles"));
    ASSERT_EQ(profiles.model()->rowCount(), 2);
    QTest::mouseClick(profiles.viewport(), Qt::LeftButton, {},
                      profiles.visualRect(profiles.model()->index(0, 0)).center());
    waitFor([&] { return findVisible(QStringLiteral("profileDetail")) != nullptr; }, "the kept profile");
    EXPECT_EQ(widgetsShowing(secretValue), QStringList {});
    picture(QStringLiteral("11-profile-again"));
}

// --- the walk --------------------------------------------------------------

void FirstHourWalk::walk()
{
    // Velmora checks the password of the account it runs as: only a throwaway
    // account lets the walk know that password.
    if (!checksTheAccountPassword() && ::geteuid() == 0)
        walkAsThrowawayAccount();
    else
        walkEveryStep();
}

void FirstHourWalk::walkEveryStep()
{
    prepareRealParts();
    std::printf("[ walk     ] password: %s; keyring: %s; terminal: %s; tray: %s\n",
                checksTheAccountPassword() ? "PAM, as a throwaway account" : "stand-in authenticator",
                keyring ? "the private session's" : "stand-in", opensXterm ? "xterm" : "stand-in",
                trayHost ? "StatusNotifierItem host" : "none (toolbar button)");
    const QList<void (FirstHourWalk::*)()> steps {
        &FirstHourWalk::firstStart,
        &FirstHourWalk::createServiceInTheEditor,
        &FirstHourWalk::startWatchAndStop,
        &FirstHourWalk::reviewDangerousCommands,
        &FirstHourWalk::giveASudoPassword,
        &FirstHourWalk::keepASecretInAProfile,
        &FirstHourWalk::openInATerminal,
        &FirstHourWalk::unlockAProtectedProfile,
        &FirstHourWalk::useTheTrayPanel,
        &FirstHourWalk::quitWithRunningServices,
        &FirstHourWalk::startAgainWithEverythingKept,
    };
    for (const auto step : steps) {
        (this->*step)();
        if (HasFatalFailure())
            return;
    }
}

TEST_F(FirstHourWalk, NewUserFromFirstStartToRestart)
{
    walk();
}

// The same walk on a real X server, for its pictures.
class FirstHourWalkScreenshots : public FirstHourWalk {
    void SetUp() override
    {
        if (Screenshots::directory().isEmpty())
            GTEST_SKIP() << "no screenshot run";
    }
};

TEST_F(FirstHourWalkScreenshots, EveryStep)
{
    walk();
}
