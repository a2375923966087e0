#include "app/AppDelegate.h"
#include "app/AppEnvironment.h"
#include "app/ApplicationAppearance.h"
#include "app/ApplicationIcon.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// On a Wayland session the compositor places every top-level window itself,
// so the panel could not appear under its tray icon: run on XWayland when it
// is there and the person has not chosen a platform. Must run before the
// application object exists.
void chooseWindowPlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    const bool waylandSession = qgetenv("XDG_SESSION_TYPE") == "wayland" || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (waylandSession && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

// Hook for the stores' data-folder lock: true when another Velmora process of
// this user (in another login session) holds the data folder. The stores do
// not take such a lock yet, so nothing holds it.
bool dataFolderHeldByAnotherProcess()
{
    return false;
}

int refuseHeldDataFolder(QApplication &application)
{
    QMessageBox refusal(QMessageBox::Critical, QStringLiteral("Velmora"),
                        QStringLiteral("Velmora is already running in another session."));
    refusal.setInformativeText(QStringLiteral("Quit Velmora there, then start it again."));
    refusal.setWindowIcon(applicationIcon());
    QObject::connect(&refusal, &QDialog::finished, &application, [] { QCoreApplication::exit(1); });
    refusal.open();
    return application.exec();
}

} // namespace

int main(int argc, char **argv)
{
    chooseWindowPlatform();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral("0.1"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvenix.com"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tolvenix.Velmora"));
    QApplication::setWindowIcon(applicationIcon());
    // Velmora keeps running with its status item when its last window closes;
    // only the quit flow ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    applyApplicationAppearance(AppAppearanceMode::system);

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::anotherInstance)
        return 0;
    if (dataFolderHeldByAnotherProcess())
        return refuseHeldDataFolder(application);

    std::unique_ptr<AppEnvironment> app = AppEnvironment::live();
    AppDelegate delegate(*app);
    MainWindow window(*app, delegate);
    delegate.setQuitConfirmation([&window, &app] {
        window.bringToFront();
        return app->presentQuitConfirmation();
    });

    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &AppDelegate::quitWithoutConfirmation);
    QObject::connect(&instance, &SingleInstance::openMainWindowRequested, &window, &MainWindow::bringToFront);
    QObject::connect(&delegate, &AppDelegate::quitRequested, &application, [] { QCoreApplication::exit(0); });

    window.show();
    return application.exec();
}
