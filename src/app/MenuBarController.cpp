#include "app/MenuBarController.h"

#include "app/MenuBarPanel.h"
#include "app/MenuBarPanelPlacement.h"
#include "execution/MonitoringManager.h"
#include "execution/ServiceManager.h"
#include "platform/Logging.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/SymbolIcon.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/platform/PasswordPromptDialog.h"
#include "ui/platform/StatusItem.h"

#include <QApplication>
#include <QCoroSignal>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <utility>

namespace {

// How long after an outside close a click on the status item counts as the
// same click (a tray host reports its click after our panel lost activation).
constexpr std::chrono::milliseconds reopenGuard {400};

constexpr int statusImageSize = 18;

bool passwordPromptIsUp()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](QWidget *window) {
        return qobject_cast<PasswordPromptDialog *>(window) && window->isVisible();
    });
}

std::optional<QRect> availableGeometryAt(const QRect &anchor)
{
    QScreen *screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

} // namespace

MenuBarController::MenuBarController(QObject *parent, Clock clock)
    : QObject(parent),
      m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
    // The shared instance outlives the event loop; its window goes while the
    // application still stands.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        closePanel();
        delete std::exchange(m_panel, nullptr);
    });
}

MenuBarController::~MenuBarController()
{
    delete m_panel;
}

MenuBarController &MenuBarController::shared()
{
    static QPointer<MenuBarController> instance;
    if (!instance)
        instance = new MenuBarController(qApp);
    return *instance;
}

QIcon MenuBarController::statusImage()
{
    const QIcon applicationIcon = QApplication::windowIcon();
    if (!applicationIcon.isNull())
        return QIcon(applicationIcon.pixmap(statusImageSize, statusImageSize));
    QIcon symbol = symbolIcon(QStringLiteral("gauge.open.with.lines.needle.33percent"));
    if (!symbol.isNull())
        return symbol;
    QPixmap empty(statusImageSize, statusImageSize);
    empty.fill(Qt::transparent);
    return QIcon(empty);
}

void MenuBarController::configure(MenuBarEnvironment environment)
{
    m_environment = std::move(environment);
    if (!m_configured) {
        m_configured = true;
        qApp->installEventFilter(this);
    }
    if (!m_statusItem)
        createStatusItem();
}

void MenuBarController::setEnvironment(MenuBarEnvironment environment)
{
    m_environment = std::move(environment);
}

void MenuBarController::setOpenMainWindow(std::function<void()> openMainWindow)
{
    m_openMainWindow = std::move(openMainWindow);
}

void MenuBarController::createStatusItem()
{
    m_usesTray = QSystemTrayIcon::isSystemTrayAvailable();
    if (m_usesTray)
        m_statusItem = new TrayStatusItem(statusImage(), this);
    else
        m_statusItem = new ToolButtonStatusItem(statusImage(), this);
    connect(m_statusItem, &StatusItem::activated, this, &MenuBarController::togglePanel);
    placeFallbackButton();
}

void MenuBarController::placeFallbackButton()
{
    auto *item = qobject_cast<ToolButtonStatusItem *>(m_statusItem);
    QToolButton *button = item ? item->button() : nullptr;
    if (!button || button->parent())
        return;
    refreshMainWindowReference();
    auto *window = qobject_cast<QMainWindow *>(m_mainWindow);
    if (!window)
        return;
    auto *toolBar = new QToolBar(QStringLiteral("Velmora"), window);
    toolBar->setObjectName(QStringLiteral("statusItemToolBar"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->addWidget(button);
    window->addToolBar(Qt::TopToolBarArea, toolBar);
}

void MenuBarController::checkTrayAvailability()
{
    // Qt settles a StatusNotifierItem host once per process, but an XEmbed tray
    // that appeared since is found when asked again.
    if (m_usesTray || !m_statusItem || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    closePanel();
    auto *item = qobject_cast<ToolButtonStatusItem *>(m_statusItem);
    if (QToolButton *button = item ? item->button() : nullptr) {
        if (auto *toolBar = qobject_cast<QToolBar *>(button->parentWidget()))
            toolBar->deleteLater();
    }
    m_statusItem->deleteLater();
    m_statusItem = nullptr;
    m_usesTray = false;
    createStatusItem();
}

void MenuBarController::togglePanel()
{
    if (isPanelVisible()) {
        closePanel();
        return;
    }
    if (m_closedFromOutsideAt && m_clock() - *m_closedFromOutsideAt < reopenGuard) {
        m_closedFromOutsideAt.reset();
        return;
    }
    togglePanelAfterStartUp();
}

QCoro::Task<> MenuBarController::togglePanelAfterStartUp()
{
    QPointer<MenuBarController> self(this);
    if (m_environment && m_environment->bootstrap)
        co_await m_environment->bootstrap();
    if (MenuBarController *controller = self.data())
        controller->showPanel();
}

MenuBarStatusView *MenuBarController::statusView() const
{
    return m_panel ? qobject_cast<MenuBarStatusView *>(m_panel->content()) : nullptr;
}

void MenuBarController::showPanel()
{
    if (!m_environment || !m_statusItem)
        return;
    const MenuBarEnvironment &environment = *m_environment;
    auto *view = new MenuBarStatusView(environment.serviceManager, environment.environmentProfilesManager,
                                       environment.lockManager, environment.monitoringManager,
                                       environment.isReady ? environment.isReady() : true);
    MenuBarStatusController *content = view->controller();
    connect(content, &MenuBarStatusController::openAppRequested, this, [this] { openService(std::nullopt); });
    connect(content, &MenuBarStatusController::openServicesRequested, this, &MenuBarController::openServicesSection);
    connect(content, &MenuBarStatusController::openServiceRequested, this,
            [this](const QUuid &serviceId) { openService(serviceId); });
    connect(content, &MenuBarStatusController::quitRequested, this, &MenuBarController::quitFromPanel);
    connect(view, &MenuBarStatusView::contentSizeMayHaveChanged, this, [this] {
        if (isPanelVisible())
            layoutPanel();
    });

    if (!m_panel) {
        m_panel = new MenuBarPanel;
        connect(m_panel, &MenuBarPanel::deactivated, this, [this] {
            // Decided once the activation has settled: our own password prompt
            // taking the focus keeps the panel open.
            QTimer::singleShot(0, this, [this] {
                if (isPanelVisible() && !m_panel->isActiveWindow() && !passwordPromptIsUp())
                    closeFromOutside();
            });
        });
    }
    m_panel->setWindowOpacity(0);
    m_panel->setContent(view);
    layoutPanel();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_statusItem->setHighlighted(true);
    // Shown only once the content has been laid out again in the next turn.
    QTimer::singleShot(0, this, [this] {
        if (!isPanelVisible())
            return;
        layoutPanel();
        m_panel->setWindowOpacity(1);
    });
}

void MenuBarController::openServicesSection()
{
    if (m_environment && m_environment->showServicesSection)
        m_environment->showServicesSection();
    closePanel();
    if (m_openMainWindow)
        m_openMainWindow();
    else
        showMainWindow();
}

void MenuBarController::quitFromPanel()
{
    closePanel();
    m_allowTermination = true;
    if (m_environment && m_environment->requestQuit)
        m_environment->requestQuit();
}

void MenuBarController::closePanel()
{
    if (m_panel) {
        m_panel->hide();
        m_panel->setWindowOpacity(1);
        m_panel->releaseContent();
    }
    if (m_statusItem)
        m_statusItem->setHighlighted(false);
}

void MenuBarController::closeFromOutside()
{
    closePanel();
    m_closedFromOutsideAt = m_clock();
}

bool MenuBarController::isPanelVisible() const
{
    return m_panel && m_panel->isVisible();
}

QRect MenuBarController::panelAnchor() const
{
    if (m_statusItem) {
        if (const QRect anchor = m_statusItem->anchorRect(); anchor.isValid())
            return anchor;
    }
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        return {available.x() + available.width() - 1, available.y(), 1, 1};
    }
    return {};
}

void MenuBarController::layoutPanel()
{
    if (!m_panel || !m_panel->content())
        return;
    const int height = m_panel->fittingHeight();
    m_panel->content()->setGeometry(0, 0, MenuBarPanel::panelWidth, height);
    const QRect anchor = panelAnchor();
    m_panel->setFixedSize(MenuBarPanel::panelWidth, height);
    QRect placed = MenuBarPanelPlacement::geometry(anchor, m_panel->size(), availableGeometryAt(anchor));
    const QWidget *window = m_mainWindow.data();
    if (!m_usesTray && window && window->isVisible())
        placed = MenuBarPanelPlacement::insideWindow(placed, window->frameGeometry());
    m_panel->move(placed.topLeft());
}

void MenuBarController::refreshMainWindowReference()
{
    if (m_mainWindow)
        return;
    QWidget *found = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window == m_panel || window->windowType() != Qt::Window
            || window->windowFlags().testFlag(Qt::FramelessWindowHint) || window->width() < minimumMainWindowWidth)
            continue;
        // The set of windows has no order; a main window beats any other.
        if (!found || (qobject_cast<QMainWindow *>(window) && !qobject_cast<QMainWindow *>(found)))
            found = window;
    }
    m_mainWindow = found;
}

void MenuBarController::bringToFront(QWidget *window)
{
    auto raise = [](QWidget *target) {
        if (target->isMinimized())
            target->setWindowState(target->windowState() & ~Qt::WindowMinimized);
        target->show();
        target->raise();
        target->activateWindow();
    };
    raise(window);
    // Once more after the window system has taken the first request.
    QPointer<QWidget> guard(window);
    QTimer::singleShot(0, this, [guard, raise] {
        if (QWidget *target = guard.data())
            raise(target);
    });
}

void MenuBarController::showMainWindow(const std::function<void()> &openWindow)
{
    refreshMainWindowReference();
    if (QWidget *window = m_mainWindow.data()) {
        bringToFront(window);
        return;
    }
    if (openWindow)
        openWindow();
    else
        Q_EMIT openMainWindowRequested();
    QTimer::singleShot(0, this, [this] {
        refreshMainWindowReference();
        if (QWidget *window = m_mainWindow.data())
            bringToFront(window);
    });
}

void MenuBarController::openService(std::optional<QUuid> serviceId)
{
    if (serviceId && m_environment && m_environment->showService)
        m_environment->showService(*serviceId);
    closePanel();
    if (m_openMainWindow)
        m_openMainWindow();
    else
        showMainWindow();
}

int MenuBarController::runningServiceCount() const
{
    if (!m_environment || !m_environment->serviceManager)
        return 0;
    const auto &runtime = m_environment->serviceManager->runtime();
    return int(std::count_if(runtime.cbegin(), runtime.cend(), [](const ServiceRuntimeInfo &info) {
        return info.state == ServiceLifecycleState::running;
    }));
}

QCoro::Task<bool> MenuBarController::requestQuitConfirmation()
{
    refreshMainWindowReference();
    // A closed main window is only hidden here; the question then goes to the status item.
    QWidget *window = m_mainWindow.data();
    if (window && window->isVisible() && m_environment && m_environment->presentQuitConfirmation) {
        bringToFront(window);
        const bool answer = co_await m_environment->presentQuitConfirmation();
        co_return answer;
    }
    const bool answer = co_await presentQuitAlertOnActiveSpace();
    co_return answer;
}

QCoro::Task<bool> MenuBarController::presentQuitAlertOnActiveSpace()
{
    const int running = runningServiceCount();
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Velmora"), QStringLiteral("Quit Velmora?"),
                                QMessageBox::NoButton);
    if (const std::optional<QString> warning = runningServicesQuitWarning(running))
        box->setInformativeText(*warning);
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton *quit = box->addButton(running >= 1 ? QStringLiteral("Quit && Terminate") : QStringLiteral("Quit"),
                                       QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    QPointer<QMessageBox> guard(box);
    box->open();

    // Under the status item when it says where it is, else centred on the main screen.
    box->adjustSize();
    const QRect anchor = m_statusItem ? m_statusItem->anchorRect() : QRect();
    if (anchor.isValid()) {
        box->move(MenuBarPanelPlacement::geometry(anchor, box->size(), availableGeometryAt(anchor)).topLeft());
    } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), box->size());
        frame.moveCenter(screen->availableGeometry().center());
        box->move(frame.topLeft());
    }
    box->raise();
    box->activateWindow();

    co_await qCoro(box, &QMessageBox::finished);
    QMessageBox *answered = guard.data();
    const bool answer = answered && answered->clickedButton() == quit;
    if (answered)
        answered->deleteLater();
    co_return answer;
}

QCoro::Task<> MenuBarController::prepareForTermination()
{
    QPointer<MenuBarController> self(this);
    if (m_isPreparingTermination) {
        // A second quit waits for the first: ending the process before the
        // services are stopped would orphan their children and lose their runs.
        if (!m_terminationPrepared)
            co_await qCoro(this, &MenuBarController::terminationPrepared);
        co_return;
    }
    m_isPreparingTermination = true;
    closePanel();
    if (m_environment) {
        ServiceManager *serviceManager = m_environment->serviceManager;
        if (m_environment->lockManager)
            m_environment->lockManager->lock();
        try {
            if (serviceManager)
                co_await serviceManager->prepareForTermination();
        } catch (const std::exception &error) {
            // Quitting goes on: a service that could not be stopped must not
            // keep the application from ending.
            qCCritical(lcProcess, "Failed to prepare for termination: %s", error.what());
        }
    }
    if (!self.data())
        co_return;
    m_terminationPrepared = true;
    Q_EMIT terminationPrepared();
}

void MenuBarController::handlePress(const QPoint &globalPosition)
{
    if (!isPanelVisible() || m_panel->frameGeometry().contains(globalPosition))
        return;
    if (m_statusItem && m_statusItem->contains(globalPosition))
        return;
    closeFromOutside();
}

bool MenuBarController::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        // Every press passes a window before it reaches a widget: seen once.
        if (watched->isWindowType())
            handlePress(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        break;
    case QEvent::WindowActivate:
        if (watched->isWidgetType() && watched == m_mainWindow)
            checkTrayAvailability();
        break;
    case QEvent::Show:
        if (!m_usesTray && watched->isWidgetType() && qobject_cast<QMainWindow *>(watched))
            placeFallbackButton();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
