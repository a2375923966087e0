#include "FirstHourWalk.h"

#include "app/MenuBarEnvironment.h"
#include "execution/ServiceManager.h"
#include "execution/SudoHelper.h"
#include "records/ApplicationSupport.h"
#include "records/ServiceRunHistoryManager.h"
#include "support/Await.h"
#include "support/FakeSudo.h"
#include "support/Screenshots.h"
#include "support/ThrowawayAccount.h"
#include "ui/platform/PasswordPromptDialog.h"

#include <QDBusConnection>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QUuid>
#include <QStandardPaths>
#include <QToolButton>

#include <cstdio>

#include <unistd.h>

FirstHourWalk::FirstHourWalk()
    : accountPassword(qEnvironmentVariable("VELMORA_WALK_ACCOUNT_PASSWORD"))
{
    // Known to this walk only: the services it starts must not inherit it.
    qunsetenv("VELMORA_WALK_ACCOUNT_PASSWORD");
    ThrowawayAccount::removeOnSignal(sudoFolder.path());
}

FirstHourWalk::~FirstHourWalk()
{
    ThrowawayAccount::removeOnSignal(sudoFolder.path(), false);
    // A failed step may leave services running: none outlives the test.
    if (app) {
        for (const auto &handle : app->serviceManager().launchedHandles())
            handle->signalProcessGroup(SIGKILL);
    }
    // A timeout in the shut-down must fail this test, not abort the program.
    try {
        shutDown();
    } catch (const std::exception &error) {
        ADD_FAILURE() << "shut-down failed: " << error.what();
    }
}

void FirstHourWalk::launch()
{
    // The test program has no compiled-in resources: the splash's logo comes
    // from the source tree.
    QDir::setSearchPaths(QStringLiteral("velmoraicons"), {QStringLiteral(VELMORA_SOURCE_DIR "/src/app/resources")});
    AppEnvironment::PlatformLayers layers;
    // Without a given layer the container builds the real one: the password
    // prompt checked by PAM, the keyring's master key and secret values.
    if (!checksTheAccountPassword())
        layers.authenticator = authenticator;
    if (!keyring) {
        layers.keyProvider = keys;
        layers.secretStore = secrets;
    }
    layers.terminalLauncher = terminal;
    layers.terminalFolderCleanup = &terminalCleanup;
    layers.gpuProbe = [] { return std::optional<double>(); };
    layers.lockClock = [this] { return lockNow; };
    app = std::make_unique<AppEnvironment>(AppEnvironment::buildStores(layers), false);
    const QString fakeSudo = installFakeSudo();
    app->serviceManager().setSudo(fakeSudo, fakeSudoCheck(fakeSudo));
    menuBar = std::make_unique<MenuBarController>();
    delegate = std::make_unique<AppDelegate>(*app, *menuBar);
    window = std::make_unique<MainWindow>(*app, *delegate);
    delegate->setQuitConfirmation([this] {
        window->bringToFront();
        return app->presentQuitConfirmation();
    });
    QObject::connect(delegate.get(), &AppDelegate::quitRequested, [this] { ++quits; });

    // The tray panel, wired as main() does: it asks the quit question once start-up is done.
    menuBar->setOpenMainWindow([this] { window->bringToFront(); });
    QObject::connect(window.get(), &MainWindow::bootstrapFinished, menuBar.get(), [this] {
        MenuBarEnvironment environment = MenuBarEnvironment::from(*app);
        environment.presentQuitConfirmation = [this] {
            window->bringToFront();
            return app->presentQuitConfirmation();
        };
        environment.requestQuit = [this] { delegate->quitWithoutConfirmation(); };
        menuBar->configure(std::move(environment));
        delegate->setQuitConfirmation([this] { return menuBar->requestQuitConfirmation(); });
    });
    window->show();
}

void FirstHourWalk::prepareRealParts()
{
    if (KeyringTestLock::available())
        keyring.emplace();
    if (!QStandardPaths::findExecutable(QStringLiteral("xterm")).isEmpty()) {
        // Offscreen walks have no display of their own: xterm gets a private one.
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            terminalDisplay = std::make_unique<XvfbServer>();
            if (terminalDisplay->start())
                qputenv("DISPLAY", terminalDisplay->display());
        }
        opensXterm = !qEnvironmentVariableIsEmpty("DISPLAY");
    }
    if (opensXterm)
        qputenv("TERMINAL", "xterm");
    terminal->onLaunch = [this](const QString &script) {
        if (opensXterm)
            terminal->succeeds = TerminalLauncher().launch(script);
        else
            QProcess::startDetached(QStringLiteral("/bin/sh"), {script});
    };
    // Only X has a tray; the offscreen walk reaches the panel through the toolbar button.
    if (QGuiApplication::platformName() == QStringLiteral("xcb") && QDBusConnection::sessionBus().isConnected()) {
        trayHost = std::make_unique<StatusNotifierHost>();
        if (!trayHost->isRegistered())
            trayHost.reset();
    }
}

void FirstHourWalk::shutDown()
{
    window.reset();
    delegate.reset();
    menuBar.reset();
    if (app)
        await(app->runHistoryManager().waitForPendingWrites());
    app.reset();
}

QString FirstHourWalk::installFakeSudo() const
{
    // Like sudo -S -p PROMPT -v: shows the prompt, reads one line from its terminal, accepts it.
    QString path = sudoFolder.filePath(QStringLiteral("sudo"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write the fake sudo");
    script.write("#!/bin/sh\nprompt=\nwhile [ $# -gt 0 ]; do\n"
                 "  case \"$1\" in -p) prompt=$2; shift 2 ;; *) shift ;; esac\ndone\n"
                 "printf '%s' \"$prompt\" >&2\nIFS= read -r line || exit 1\n"
                 "printf '%s\\n' \"$line\" >> '"
                 + sudoLog().toUtf8() + "'\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool FirstHourWalk::matches(QWidget &widget, const QString &key, Match match)
{
    if (match == Match::name)
        return key.isEmpty() || widget.objectName() == key || widget.accessibleName() == key;
    if (auto *button = qobject_cast<QAbstractButton *>(&widget))
        return button->text().replace(QStringLiteral("&&"), QStringLiteral("&")) == key;
    if (auto *label = qobject_cast<QLabel *>(&widget))
        return label->text() == key;
    return false;
}

void FirstHourWalk::openPanel()
{
    if (menuBar->usesTray()) {
        ASSERT_TRUE(trayHost);
        waitFor([&] { return !trayHost->registeredItems().isEmpty(); }, "the tray icon to register");
        trayHost->activate(trayHost->registeredItems().constLast());
    } else {
        click(find<QToolButton>({}, &find(QStringLiteral("statusItemToolBar"))));
    }
    waitFor([&] { return menuBar->isPanelVisible(); }, "the tray panel");
}

void FirstHourWalk::closePanel()
{
    // A click on the status item while the panel shows closes it.
    if (menuBar->usesTray())
        trayHost->activate(trayHost->registeredItems().constLast());
    else
        click(find<QToolButton>({}, &find(QStringLiteral("statusItemToolBar"))));
    waitFor([&] { return !menuBar->isPanelVisible(); }, "the panel to close");
}

void FirstHourWalk::answerPasswordPrompt(const QString &password)
{
    auto &prompt = find<PasswordPromptDialog>({});
    auto &field = find<QLineEdit>({}, &prompt);
    // Disabled while the previous answer is checked.
    waitFor([&] { return field.isEnabled(); }, "the password field", 15000);
    field.setFocus();
    QTest::keyClicks(&field, password);
    click(find(QStringLiteral("Unlock"), &prompt));
}

void FirstHourWalk::click(QWidget &widget) const
{
    QTest::mouseClick(&widget, Qt::LeftButton);
}

void FirstHourWalk::type(const QString &key, const QString &text, QWidget *within) const
{
    QWidget &field = find(key, within);
    field.setFocus();
    QTest::keyClicks(&field, text);
}

void FirstHourWalk::waitFor(const std::function<bool()> &condition, const char *what, int timeoutMs) const
{
    if (!waitUntil(condition, timeoutMs))
        throw std::runtime_error(std::string("timed out waiting for ") + what);
}

void FirstHourWalk::picture(const QString &name, QWidget *widget) const
{
    if (Screenshots::directory().isEmpty())
        return;
    // Selection and hover fills fade in and out: a picture right after a click
    // would show two rows half selected.
    QTest::qWait(400);
    Screenshots::save(widget ? *widget : *window, QStringLiteral("walk/") + name);
}

QStringList FirstHourWalk::dataFilesHolding(const QString &text) const
{
    QStringList found;
    QDirIterator files(applicationSupportDirectory(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8()))
            found.append(file.fileName());
    }
    return found;
}

QStringList FirstHourWalk::widgetsShowing(const QString &text) const
{
    QStringList found;
    for (QWidget *root : QApplication::topLevelWidgets()) {
        QList<QWidget *> widgets = root->findChildren<QWidget *>();
        widgets.prepend(root);
        for (QWidget *widget : widgets) {
            QString shown = widget->toolTip() + widget->accessibleName() + widget->windowTitle();
            if (auto *label = qobject_cast<QLabel *>(widget))
                shown += label->text();
            if (auto *button = qobject_cast<QAbstractButton *>(widget))
                shown += button->text();
            if (shown.contains(text))
                found.append(QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ')
                             + widget->objectName());
        }
    }
    return found;
}

namespace {

// What the walk as a throwaway account keeps of this process's environment.
const char *const keptVariables[] = {"PATH", "LANG", "ASAN_OPTIONS", "UBSAN_OPTIONS", "VELMORA_TEST_QPA", "DISPLAY"};

} // namespace

void FirstHourWalk::walkAsThrowawayAccount()
{
    // The account's home sits in a folder only root may list, but the account may pass.
    QTemporaryDir base(TestEnvironment::temporaryFolderTemplate(QStringLiteral("tests_acceptance")));
    ASSERT_TRUE(base.isValid());
    ThrowawayAccount::removeOnSignal(base.path());
    const auto forget = qScopeGuard([&] { ThrowawayAccount::removeOnSignal(base.path(), false); });
    QFile::setPermissions(base.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const QString home = base.filePath(QStringLiteral("home"));
    const ThrowawayAccount account(ThrowawayAccount::Login::shell, home);
    const QString password = QString::fromUtf8(account.password());
    if (!account.created()) {
        std::printf("[ walk     ] no throwaway account here: the stand-in authenticator answers\n");
        walkEveryStep();
        return;
    }

    // This very program with the sudo helper beside it, as the build puts it beside the binary, and the private
    // test session, from the account's own home: the build folder may lie where the account cannot go.
    const QString program = home + QStringLiteral("/walk-tests");
    const QString session = home + QStringLiteral("/with-test-session.sh");
    ASSERT_TRUE(account.copyIn(QStringLiteral("/proc/self/exe"), program));
    ASSERT_TRUE(account.copyIn(SudoHelper::find().path, home + QLatin1Char('/') + SudoHelper::fileName));
    ASSERT_TRUE(account.copyIn(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/with-test-session.sh"), session));
    ASSERT_TRUE(account.copyIn(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/remove-ended-test-folders.sh"),
                               home + QStringLiteral("/remove-ended-test-folders.sh")));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);

    QStringList environment {QStringLiteral("HOME=") + home, QStringLiteral("TMPDIR=/tmp"),
                             QStringLiteral("VELMORA_WALK_ACCOUNT_PASSWORD=") + password};
    for (const char *name : keptVariables) {
        if (qEnvironmentVariableIsSet(name))
            environment.append(QString::fromLatin1(name) + QLatin1Char('=') + qEnvironmentVariable(name));
    }
    // The X cookie and the leak suppressions, where the account can read them.
    if (const QString cookie = qEnvironmentVariable("XAUTHORITY"); !cookie.isEmpty()) {
        ASSERT_TRUE(account.copyIn(cookie, home + QStringLiteral("/.Xauthority")));
        environment.append(QStringLiteral("XAUTHORITY=") + home + QStringLiteral("/.Xauthority"));
    }
    const std::optional<QString> leaks = account.leakOptionsIn(home);
    ASSERT_TRUE(leaks.has_value());
    if (!leaks->isEmpty())
        environment.append(*leaks);
    const QString pictures = home + QStringLiteral("/pictures");
    if (!Screenshots::directory().isEmpty()) {
        ASSERT_TRUE(QDir().mkpath(pictures) && account.giveOwnership(pictures));
        environment.append(QStringLiteral("VELMORA_SCREENSHOT_DIR=") + pictures);
    }

    const ::testing::TestInfo &test = *::testing::UnitTest::GetInstance()->current_test_info();
    QProcess walker;
    walker.setWorkingDirectory(home);
    walker.setProcessChannelMode(QProcess::MergedChannels);
    walker.start(
        QStringLiteral("setpriv"),
        QStringList {QStringLiteral("--reuid=%1").arg(account.uid()), QStringLiteral("--regid=%1").arg(account.gid()),
                     QStringLiteral("--init-groups"), QStringLiteral("--"), QStringLiteral("env"), QStringLiteral("-i")}
            + environment
            + QStringList {QStringLiteral("/bin/bash"), session, program,
                           QStringLiteral("--gtest_filter=%1.%2")
                               .arg(QString::fromUtf8(test.test_suite_name()), QString::fromUtf8(test.name()))});
    const bool ended = walker.waitForFinished(240000);
    const QByteArray output = walker.readAll();
    std::printf("%s\n", output.constData());
    ASSERT_TRUE(ended) << "the walk as a throwaway account did not end";
    EXPECT_EQ(walker.exitCode(), 0);
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << "the walk as a throwaway account did not run";

    if (!Screenshots::directory().isEmpty()) {
        QDirIterator shots(pictures, {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
        while (shots.hasNext()) {
            const QString shot = shots.next();
            const QString target = Screenshots::directory() + shot.mid(pictures.size());
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::remove(target);
            QFile::copy(shot, target);
        }
    }
}
