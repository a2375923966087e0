#include "app/MainWindow.h"

#include "app/AppDelegate.h"
#include "app/AppEnvironment.h"
#include "app/AppSection.h"
#include "app/ApplicationIcon.h"
#include "app/ContentView.h"
#include "app/SettingsWindow.h"
#include "ui/components/ClickOutsideEditingMonitor.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

MainWindow::MainWindow(AppEnvironment &app, AppDelegate &delegate, QWidget *parent)
    : QMainWindow(parent),
      m_app(app),
      m_delegate(delegate),
      m_content(new ContentView(app, this))
{
    setObjectName(QStringLiteral("main"));
    setCentralWidget(m_content);
    buildMenus();
    const QScreen *screen = this->screen();
    resize(screen ? firstSizeWithin(screen->availableGeometry(), minimumSizeHint()) : firstSize);
    updateWindowTitle();
    connect(&app, &AppEnvironment::selectedSectionChanged, this, &MainWindow::updateWindowTitle);
    connect(&app, &AppEnvironment::readyChanged, this, &MainWindow::updateWindowTitle);
    connect(&app, &AppEnvironment::launchSplashDelayCompletedChanged, this, &MainWindow::updateWindowTitle);
}

QSize MainWindow::firstSizeWithin(const QRect &available, const QSize &minimum)
{
    return firstSize.boundedTo(available.size() - frameAllowance).expandedTo(minimum);
}

void MainWindow::updateWindowTitle()
{
    // The screen's own title, once the splash has given way to the screens.
    const QWidget *screen = m_content->detailScreen();
    QString screenTitle = screen ? screen->windowTitle() : QString();
    if (screenTitle.isEmpty())
        screenTitle = title(m_app.selectedSection());
    if (!m_app.isLaunchComplete())
        setWindowTitle(QStringLiteral("Velmora"));
    else
        setWindowTitle(screenTitle + QStringLiteral(" \u2014 Velmora"));
}

MainWindow::~MainWindow()
{
    // The Settings window is a top-level window of its own, not our child.
    delete m_settings;
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction *settings = file->addAction(QStringLiteral("Settings…"), this, &MainWindow::openSettings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setShortcutContext(Qt::ApplicationShortcut);
    QAction *close = file->addAction(QStringLiteral("Close"), this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->close();
    });
    close->setShortcut(QKeySequence::Close);
    file->addSeparator();
    m_quitAction = file->addAction(QStringLiteral("Quit"), &m_delegate, &AppDelegate::startQuit);
    m_quitAction->setShortcut(QKeySequence::Quit);
    m_quitAction->setShortcutContext(Qt::ApplicationShortcut);
    m_quitAction->setMenuRole(QAction::QuitRole);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("About Velmora"), this, &MainWindow::showAbout)->setMenuRole(QAction::AboutRole);
    help->addAction(QStringLiteral("Privacy Policy"), this, &MainWindow::openPrivacyPolicy);

    m_fullScreenAction = new QAction(QStringLiteral("Full Screen"), this);
    m_fullScreenAction->setShortcut(QKeySequence::FullScreen);
    connect(m_fullScreenAction, &QAction::triggered, this, &MainWindow::toggleFullScreen);
    addAction(m_fullScreenAction);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    installClickOutsideEditingMonitor();
    // Coming back from minimized is not coming on screen again.
    if (!event->spontaneous())
        runLaunchTask();
}

void MainWindow::runLaunchTask()
{
    [](QPointer<MainWindow> self, AppEnvironment &app) -> QCoro::Task<> {
        // Both start now and interleave on the main thread; the splash stays
        // until both have finished.
        QCoro::Task<> bootstrap = app.bootstrap();
        QCoro::Task<> splashDelay = app.completeLaunchSplashDelay();
        co_await std::move(bootstrap);
        if (self)
            Q_EMIT self->bootstrapFinished();
        co_await std::move(splashDelay);
    }(QPointer<MainWindow>(this), m_app);
}

void MainWindow::toggleFullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (isHidden())
        show();
    raise();
    activateWindow();
}

void MainWindow::openSettings()
{
    if (!m_settings) {
        m_settings = new SettingsWindow(m_app);
        m_settings->setWindowIcon(windowIcon());
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void MainWindow::showAbout()
{
    auto *about = new QMessageBox(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowTitle(QStringLiteral("About Velmora"));
    about->setIconPixmap(applicationIcon().pixmap(64, 64));
    about->setText(QStringLiteral("Velmora"));
    about->setInformativeText(QStringLiteral("Version ") + QCoreApplication::applicationVersion());
    about->setStandardButtons(QMessageBox::Ok);
    about->open();
}

void MainWindow::openPrivacyPolicy()
{
    const QUrl address(privacyPolicyAddress, QUrl::StrictMode);
    if (address.isValid())
        QDesktopServices::openUrl(address);
}
