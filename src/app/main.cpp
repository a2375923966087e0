#include "app/AppDelegate.h"
#include "app/AppEnvironment.h"
#include "app/ApplicationAppearance.h"
#include "app/ApplicationIcon.h"
#include "app/MainWindow.h"
#include "app/MenuBarController.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "execution/TerminalFolderCleanup.h"
#include "platform/DescriptorLimit.h"
#include "platform/DisplayProbe.h"
#include "platform/Logging.h"
#include "platform/SessionEnvironment.h"
#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/DataFolderOwnership.h"
#include "ui/components/KeyboardRules.h"
#include "ui/platform/AtSpiAdaptorGuard.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <optional>

namespace {

bool platformChosen(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView argument(argv[i]);
        if (argument == "-platform" || argument == "--platform")
            return true;
    }
    return false;
}

// Picks the window system before the application object exists, asking each
// display first: with none that answers, Qt would end in an abort whose
// message blames the installation. Only when the person chose no platform
// ("offscreen" and the like need no display). On a Wayland session the
// compositor places every top-level window itself, so the panel could not
// appear under its tray icon: XWayland is preferred when it answers. Says why
// on standard error and returns false when no display answers. The X
// connection asked with is left in `x11Connection`, to close once Qt has its
// own.
bool chooseWindowPlatform(int argc, char **argv, DisplayProbe::X11Connection &x11Connection)
{
    if (platformChosen(argc, argv))
        return true;
    const QByteArray x11 = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    if (x11.isEmpty() && wayland.isEmpty()) {
        std::fprintf(stderr, "velmora: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is "
                             "set.\n");
        return false;
    }
    QStringList failures;
    if (!x11.isEmpty()) {
        DisplayProbe::X11Answer answer = DisplayProbe::askX11(x11);
        if (answer.connection) {
            x11Connection = std::move(answer.connection);
            if (!wayland.isEmpty() || qgetenv("XDG_SESSION_TYPE") == "wayland")
                SessionEnvironment::setForThisProcess("QT_QPA_PLATFORM", "xcb");
            return true;
        }
        failures.append(QStringLiteral("the X display “%1” (DISPLAY) doesn’t answer: %2")
                            .arg(QString::fromLocal8Bit(x11), answer.failure));
    }
    if (!wayland.isEmpty()) {
        const std::optional<QString> failure = DisplayProbe::waylandFailure(wayland, qgetenv("XDG_RUNTIME_DIR"));
        if (!failure) {
            SessionEnvironment::setForThisProcess("QT_QPA_PLATFORM", "wayland");
            // With no session bus address, libdbus and GIO start a bus through
            // DISPLAY (dbus-launch --autolaunch), which waits for ever on a
            // silent server; nothing in this process may reach for that
            // display. The services still get it, as the session gave it.
            if (!x11.isEmpty())
                SessionEnvironment::setAside("DISPLAY");
            return true;
        }
        failures.append(QStringLiteral("the Wayland display “%1” (WAYLAND_DISPLAY) doesn’t answer: %2")
                            .arg(QString::fromLocal8Bit(wayland), *failure));
    }
    std::fprintf(stderr, "velmora: Velmora can’t open a window: %s.\n",
                 qUtf8Printable(failures.join(QStringLiteral("; "))));
    return false;
}

// The data folder cannot be used: it cannot be made, written or locked, its
// lock file is unusable, another process of this user holds it (Velmora in
// another login session, or with no session bus to hand over through), or it
// is not the user's own. Say so, on the terminal too, and end with status 1
// when the person closes the message.
int refuseDataFolder(QApplication &application, const QString &message)
{
    std::fprintf(stderr, "velmora: %s\n", qUtf8Printable(message));
    QMessageBox refusal(QMessageBox::Critical, QStringLiteral("Velmora"), message);
    refusal.setWindowIcon(applicationIcon());
    QObject::connect(&refusal, &QDialog::finished, &application, [] { QCoreApplication::exit(1); });
    refusal.open();
    return application.exec();
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything opens descriptors: every running service costs a few,
    // and running out would end the process inside a library that cannot cope.
    const bool descriptorLimitRaised = DescriptorLimit::raiseForThisProcess();
    DisplayProbe::X11Connection x11Connection;
    if (!chooseWindowPlatform(argc, argv, x11Connection))
        return 1;
    QApplication application(argc, argv);
    x11Connection.reset();
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral("0.1"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvenix.com"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tolvenix.Velmora"));
    QApplication::setWindowIcon(applicationIcon());
    // Velmora keeps running with its status item when its last window closes;
    // only the quit flow ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    applyApplicationAppearance(AppAppearanceMode::system);
    AtSpiAdaptorGuard::install();
    KeyboardRules::install();

    if (!descriptorLimitRaised)
        qCCritical(lcGeneral, "The limit on open files couldn’t be raised; going on with the current one");

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::anotherInstance)
        return 0;
    std::unique_ptr<DataFolderLock> dataFolderLock;
    try {
        const QString dataFolder = AppEnvironment::applicationSupportDirectory();
        makeApplicationSupportDirectory(dataFolder);
        DataFolderOwnership::ensureOwnFolder(dataFolder);
        dataFolderLock = std::make_unique<DataFolderLock>(dataFolder);
    } catch (const FileStoreError &error) {
        // A window whose every save fails, or a second instance writing the
        // same files, would lose what the person does in it.
        return refuseDataFolder(application, error.message());
    }

    // Holding the data folder, this is the one running instance: script
    // folders an earlier run left behind (with secret values in clear) are no
    // one's any more. Without the lock another instance may still own them.
    if (dataFolderLock && dataFolderLock->isHeld())
        removeStaleTerminalFolders();

    std::unique_ptr<AppEnvironment> app = AppEnvironment::live();
    MenuBarController &menuBar = MenuBarController::shared();
    AppDelegate delegate(*app, menuBar);
    MainWindow window(*app, delegate);
    // Until the status item's controller takes over the question, quitting
    // asks in the main window.
    delegate.setQuitConfirmation([&window, &app] {
        window.bringToFront();
        return app->presentQuitConfirmation();
    });

    // The tray panel: its status item appears once start-up is done; from then
    // on it asks the quit question, in the main window while that is open.
    menuBar.setOpenMainWindow([&window] { window.bringToFront(); });
    QObject::connect(&menuBar, &MenuBarController::openMainWindowRequested, &window, &MainWindow::bringToFront);
    QObject::connect(&window, &MainWindow::bootstrapFinished, &menuBar, [&menuBar, &window, &app, &delegate] {
        MenuBarEnvironment environment = MenuBarEnvironment::from(*app);
        environment.presentQuitConfirmation = [&window, &app] {
            window.bringToFront();
            return app->presentQuitConfirmation();
        };
        environment.requestQuit = [&delegate] { delegate.quitWithoutConfirmation(); };
        menuBar.configure(std::move(environment));
        delegate.setQuitConfirmation([&menuBar] { return menuBar.requestQuitConfirmation(); });
    });

    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &AppDelegate::quitForEndingSession);
    QObject::connect(&instance, &SingleInstance::openMainWindowRequested, &window, &MainWindow::bringToFront);
    QObject::connect(&delegate, &AppDelegate::quitRequested, &application, [] { QCoreApplication::exit(0); });

    window.show();
    return application.exec();
}
