#include "ui/services/ServicesView.h"

#include "execution/ServiceManager.h"
#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "ui/services/CommandThreatReviewView.h"
#include "ui/services/ServiceEditorView.h"
#include "ui/services/ServiceListModel.h"
#include "ui/services/ServiceRowDelegate.h"
#include "ui/services/ServicesController.h"
#include "ui/services/ServicesFonts.h"
#include "ui/services/ServicesPalette.h"
#include "ui/services/ServicesSymbols.h"
#include "ui/services/SudoPasswordPromptView.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFontDatabase>
#include <QShowEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using ServicesFonts::Style;

// Stands in the detail column until the service detail view is hosted here:
// the service's name, state and command, and its actions.
class ServiceDetailPlaceholder final : public QWidget {
public:
    ServiceDetailPlaceholder(ServicesController &controller, const ManagedService &service, QWidget *parent)
        : QWidget(parent), m_controller(controller), m_service(service)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(24, 20, 24, 20);
        layout->setSpacing(12);
        m_name = new QLabel(this);
        m_name->setTextFormat(Qt::PlainText);
        m_name->setFont(ServicesFonts::font(Style::title2, QFont::DemiBold));
        m_state = new QLabel(this);
        m_state->setTextFormat(Qt::PlainText);
        m_command = new QLabel(this);
        m_command->setTextFormat(Qt::PlainText);
        m_command->setWordWrap(true);
        m_command->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        layout->addWidget(m_name);
        layout->addWidget(m_state);
        layout->addWidget(m_command);

        auto *buttons = new QHBoxLayout;
        buttons->setSpacing(8);
        m_unlock = addButton(buttons, QStringLiteral("Unlock"), [this] { m_controller.unlockService(m_service); });
        m_start = addButton(buttons, QStringLiteral("Start"),
                            [this] { m_controller.launchService(m_service, SudoLaunchAction::start); });
        m_stop = addButton(buttons, QStringLiteral("Stop"), [this] { m_controller.stopService(m_service); });
        m_restart = addButton(buttons, QStringLiteral("Restart"),
                              [this] { m_controller.launchService(m_service, SudoLaunchAction::restart); });
        m_kill = addButton(buttons, QStringLiteral("Force Kill"), [this] { m_controller.requestForceKill(m_service); });
        m_edit = addButton(buttons, QStringLiteral("Edit"), [this] { m_controller.editService(m_service); });
        buttons->addStretch(1);
        layout->addLayout(buttons);

        m_output = new QLabel(this);
        m_output->setTextFormat(Qt::PlainText);
        m_output->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        m_output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        layout->addWidget(m_output, 1);
        update(service);
    }

    void update(const ManagedService &service)
    {
        m_service = service;
        const ServiceRuntimeInfo runtime = m_controller.runtimeEntry(service.id);
        const bool running = runtime.state == ServiceLifecycleState::running;
        const bool locked = m_controller.isLocked(service) || m_controller.isLaunchLocked(service);
        m_name->setText(service.name);
        m_state->setText(ServiceRowDelegate::badgeText(static_cast<int>(runtime.state)));
        m_command->setText(service.command.isEmpty() ? QStringLiteral("—") : service.command);
        m_unlock->setVisible(locked);
        m_start->setEnabled(!running && !locked);
        m_stop->setEnabled(running);
        m_restart->setEnabled(running && !locked);
        m_kill->setEnabled(running);
        m_edit->setEnabled(!running);
        m_output->setText(runtime.processOutput.right(2000));
    }

private:
    template <typename Action>
    QPushButton *addButton(QHBoxLayout *row, const QString &title, Action action)
    {
        auto *button = new QPushButton(title, this);
        button->setObjectName(title.toLower().remove(QLatin1Char(' ')) + QStringLiteral("Button"));
        connect(button, &QPushButton::clicked, this, action);
        row->addWidget(button);
        return button;
    }

    ServicesController &m_controller;
    ManagedService m_service;
    QLabel *m_name;
    QLabel *m_state;
    QLabel *m_command;
    QLabel *m_output;
    QPushButton *m_unlock;
    QPushButton *m_start;
    QPushButton *m_stop;
    QPushButton *m_restart;
    QPushButton *m_kill;
    QPushButton *m_edit;
};

QLabel *secondaryText(const QString &text, Style style, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(ServicesFonts::font(style));
    QPalette palette = label->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6);
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

ServicesView::ServicesView(ServiceManager &serviceManager, EnvironmentProfilesManager &profilesManager,
                           ProtectedProfilesLockManager &lockManager, ServiceRunHistoryManager &historyManager,
                           SecurityScopedBookmarkStore *bookmarks, QWidget *parent)
    : QWidget(parent),
      m_controller(new ServicesController(serviceManager, profilesManager, lockManager, historyManager, bookmarks,
                                          this))
{
    setObjectName(QStringLiteral("servicesView"));
    setWindowTitle(QStringLiteral("Services"));
    m_model = new ServiceListModel(*m_controller, this);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeSidebar());
    auto *separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Plain);
    QPalette separatorPalette = separator->palette();
    QColor line = separatorPalette.color(QPalette::WindowText);
    line.setAlphaF(0.12);
    separatorPalette.setColor(QPalette::WindowText, line);
    separator->setPalette(separatorPalette);
    layout->addWidget(separator);
    auto *right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(makeToolbar());
    right->addWidget(makeDetailHost(), 1);
    layout->addLayout(right, 1);

    ServicesController &controller = *m_controller;
    connect(&controller, &ServicesController::selectedServiceIdChanged, this, &ServicesView::updateDetail);
    connect(&controller, &ServicesController::editorModeChanged, this, &ServicesView::syncEditorSheet);
    connect(&controller, &ServicesController::sudoRequestChanged, this, &ServicesView::syncSudoSheet);
    connect(&controller, &ServicesController::commandThreatRequestChanged, this,
            &ServicesView::syncThreatReviewSheet);
    connect(&controller, &ServicesController::confirmForceKillChanged, this, &ServicesView::syncForceKillAlert);
    connect(&controller, &ServicesController::errorMessageChanged, this, &ServicesView::syncErrorAlert);
    connect(&serviceManager, &ServiceManager::servicesChanged, this, &ServicesView::updateDetail);
    connect(&serviceManager, &ServiceManager::legacyEncryptedServiceIDsChanged, this, &ServicesView::updateDetail);
    connect(&serviceManager, &ServiceManager::runtimeEntryChanged, this, [this](const QUuid &id) {
        if (id == m_detailServiceId)
            updateDetail();
    });
    connect(&profilesManager, &EnvironmentProfilesManager::lockedProfileIDsChanged, this, &ServicesView::updateDetail);
    connect(&profilesManager, &EnvironmentProfilesManager::profilesChanged, this, [this] {
        updateDetail();
        updateLockButton();
    });
    connect(&profilesManager, &EnvironmentProfilesManager::keychainAccessGuidanceChanged, this,
            &ServicesView::updateKeychainBanner);
    connect(&lockManager, &ProtectedProfilesLockManager::isUnlockedChanged, this, &ServicesView::updateLockButton);
    updateKeychainBanner();
    updateLockButton();
    updateDetail();
}

ServicesView::~ServicesView() = default;

void ServicesView::selectService(const QUuid &serviceId)
{
    m_controller->setSelectedServiceId(serviceId);
}

void ServicesView::resetNavigation()
{
    m_controller->resetNavigation();
}

void ServicesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        m_controller->unlockSelectedServiceIfNeeded();
}

bool ServicesView::eventFilter(QObject *watched, QEvent *event)
{
    // A click on empty space below or between the rows clears the selection.
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (!m_list->indexAt(press->position().toPoint()).isValid())
            m_controller->setSelectedServiceId(std::nullopt);
    }
    return QWidget::eventFilter(watched, event);
}

QWidget *ServicesView::makeSidebar()
{
    auto *sidebar = new QWidget(this);
    sidebar->setObjectName(QStringLiteral("servicesSidebar"));
    sidebar->setFixedWidth(sidebarWidth);
    auto *column = new QVBoxLayout(sidebar);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(14, 14, 14, 10);
    header->addStretch(1);
    auto *create = new QPushButton(QStringLiteral("Create Service"), sidebar);
    create->setObjectName(QStringLiteral("createServiceButton"));
    create->setToolTip(QStringLiteral("Add Service"));
    create->setAccessibleName(QStringLiteral("Create Service"));
    create->setDefault(false);
    create->setAutoDefault(false);
    const QColor accent = palette().color(QPalette::Highlight);
    create->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px; "
                                         "padding: 5px 12px; } QPushButton:pressed { background: %3; }")
                              .arg(accent.name(), palette().color(QPalette::HighlightedText).name(),
                                   accent.darker(120).name()));
    connect(create, &QPushButton::clicked, m_controller, &ServicesController::openCreateEditor);
    header->addWidget(create);
    column->addLayout(header);

    column->addWidget(makeKeychainBanner());

    auto *searchBlock = new QVBoxLayout;
    searchBlock->setContentsMargins(12, 0, 12, 10);
    searchBlock->setSpacing(10);
    searchBlock->addWidget(makeSearchField());
    searchBlock->addWidget(makeFilterPicker());
    column->addLayout(searchBlock);

    m_list = new QListView(sidebar);
    m_list->setObjectName(QStringLiteral("serviceList"));
    m_list->setAccessibleName(QStringLiteral("Services"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new ServiceRowDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setUniformItemSizes(true);
    m_list->setMouseTracking(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (const std::optional<ManagedService> service = m_model->service(index.row()))
            m_controller->selectService(*service);
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                // Arrow keys move the selection; clicks go through `clicked`.
                if (QGuiApplication::mouseButtons() != Qt::NoButton || !m_list->hasFocus())
                    return;
                if (const std::optional<ManagedService> service = m_model->service(current.row()))
                    m_controller->setSelectedServiceId(service->id);
            });
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_savedScrollValue = m_list->verticalScrollBar()->value(); });
    connect(m_model, &ServiceListModel::orderChanged, this,
            [this] { m_list->verticalScrollBar()->setValue(m_savedScrollValue); });
    auto *rows = new QVBoxLayout;
    rows->setContentsMargins(8, 0, 8, 8);
    rows->addWidget(m_list);
    column->addLayout(rows, 1);
    return sidebar;
}

QWidget *ServicesView::makeSearchField()
{
    auto *field = new QFrame(this);
    field->setObjectName(QStringLiteral("searchFieldFrame"));
    field->setStyleSheet(QStringLiteral("QFrame#searchFieldFrame { background: palette(base); border: 1px solid "
                                        "palette(mid); border-radius: 8px; }"));
    auto *row = new QHBoxLayout(field);
    row->setContentsMargins(8, 6, 8, 6);
    row->setSpacing(6);
    row->addWidget(ServicesSymbols::label(QStringLiteral("magnifyingglass"),
                                          palette().color(QPalette::PlaceholderText), 14, field));
    m_search = new QLineEdit(field);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setPlaceholderText(QStringLiteral("Search by name"));
    m_search->setAccessibleName(QStringLiteral("Search by name"));
    m_search->setFrame(false);
    m_search->setFixedHeight(20);
    m_search->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    row->addWidget(m_search, 1);
    m_clearSearch = new QToolButton(field);
    m_clearSearch->setObjectName(QStringLiteral("clearSearchButton"));
    m_clearSearch->setAccessibleName(QStringLiteral("Clear search"));
    m_clearSearch->setProperty("symbolName", QStringLiteral("xmark.circle.fill"));
    m_clearSearch->setIcon(QIcon(ServicesSymbols::tinted(QStringLiteral("xmark.circle.fill"),
                                                        palette().color(QPalette::PlaceholderText), 14)));
    m_clearSearch->setAutoRaise(true);
    m_clearSearch->setVisible(false);
    row->addWidget(m_clearSearch);

    connect(m_search, &QLineEdit::textChanged, m_controller, &ServicesController::setSearchText);
    connect(m_clearSearch, &QToolButton::clicked, this, [this] { m_controller->setSearchText(QString()); });
    connect(m_controller, &ServicesController::searchTextChanged, this, [this] {
        const QString &text = m_controller->searchText();
        if (m_search->text() != text)
            m_search->setText(text);
        m_clearSearch->setVisible(!text.isEmpty());
    });
    return field;
}

QWidget *ServicesView::makeFilterPicker()
{
    auto *picker = new QWidget(this);
    picker->setObjectName(QStringLiteral("filterPicker"));
    picker->setAccessibleName(QStringLiteral("Filter"));
    auto *row = new QHBoxLayout(picker);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_filterButtons = new QButtonGroup(picker);
    m_filterButtons->setExclusive(true);
    const QList<ServiceFilter> filters = allServiceFilters();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        auto *segment = new QToolButton(picker);
        segment->setText(segmentLabel(filters[i]));
        segment->setObjectName(QStringLiteral("filter-") + rawValue(filters[i]));
        segment->setCheckable(true);
        segment->setChecked(filters[i] == m_controller->filter());
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_filterButtons->addButton(segment, static_cast<int>(i));
        row->addWidget(segment);
    }
    connect(m_filterButtons, &QButtonGroup::idClicked, this, [this, filters](int id) {
        m_controller->setFilter(filters[id]);
    });
    connect(m_controller, &ServicesController::filterChanged, this, [this, filters] {
        const int id = static_cast<int>(filters.indexOf(m_controller->filter()));
        if (QAbstractButton *button = m_filterButtons->button(id))
            button->setChecked(true);
    });
    return picker;
}

QWidget *ServicesView::makeKeychainBanner()
{
    auto *holder = new QWidget(this);
    auto *outer = new QVBoxLayout(holder);
    outer->setContentsMargins(12, 0, 12, 10);
    m_keychainBanner = new QFrame(holder);
    m_keychainBanner->setObjectName(QStringLiteral("keychainBanner"));
    const QColor tint = ServicesPalette::orange();
    QColor background = tint;
    background.setAlphaF(0.12);
    m_keychainBanner->setStyleSheet(QStringLiteral("QFrame#keychainBanner { background: %1; border: 1px solid %2; "
                                                   "border-radius: 8px; }")
                                        .arg(background.name(QColor::HexArgb), tint.name()));
    auto *layout = new QVBoxLayout(m_keychainBanner);
    layout->setContentsMargins(10, 8, 10, 8);
    m_keychainMessage = new QLabel(m_keychainBanner);
    m_keychainMessage->setTextFormat(Qt::PlainText);
    m_keychainMessage->setWordWrap(true);
    m_keychainMessage->setFont(ServicesFonts::font(Style::caption));
    layout->addWidget(m_keychainMessage);
    auto *retry = new QPushButton(QStringLiteral("Try Again"), m_keychainBanner);
    retry->setObjectName(QStringLiteral("keychainRetryButton"));
    retry->setAutoDefault(false);
    connect(retry, &QPushButton::clicked, m_controller, [this] { m_controller->retryKeychainAccess(); });
    layout->addWidget(retry, 0, Qt::AlignLeft);
    outer->addWidget(m_keychainBanner);
    holder->setObjectName(QStringLiteral("keychainBannerHolder"));
    return holder;
}

QWidget *ServicesView::makeToolbar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);
    row->addStretch(1);
    m_lockButton = new QToolButton(bar);
    m_lockButton->setObjectName(QStringLiteral("protectedDataLockButton"));
    m_lockButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_lockButton->setAutoRaise(true);
    connect(m_lockButton, &QToolButton::clicked, this, [this] { m_controller->lockManager().lock(); });
    row->addWidget(m_lockButton);
    return bar;
}

QWidget *ServicesView::makeDetailHost()
{
    m_detailHost = new QStackedWidget(this);
    m_detailHost->setObjectName(QStringLiteral("detailHost"));
    m_emptyState = new QWidget(m_detailHost);
    m_emptyState->setObjectName(QStringLiteral("emptyState"));
    auto *layout = new QVBoxLayout(m_emptyState);
    layout->addStretch(1);
    QLabel *symbol = ServicesSymbols::label(QStringLiteral("terminal"), palette().color(QPalette::PlaceholderText), 40,
                                            m_emptyState);
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    auto *title = new QLabel(QStringLiteral("Select a Service"), m_emptyState);
    title->setObjectName(QStringLiteral("emptyStateTitle"));
    title->setFont(ServicesFonts::font(Style::title3, QFont::DemiBold));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    layout->addWidget(secondaryText(QStringLiteral("Choose a service from the list or add a new one."), Style::body,
                                    m_emptyState));
    layout->addStretch(1);
    m_detailHost->addWidget(m_emptyState);
    return m_detailHost;
}

void ServicesView::updateKeychainBanner()
{
    const std::optional<QString> &guidance = m_controller->profilesManager().keychainAccessGuidance();
    m_keychainMessage->setText(guidance.value_or(QString()));
    m_keychainBanner->parentWidget()->setVisible(guidance.has_value());
}

void ServicesView::updateLockButton()
{
    const bool hasProtectedData = m_controller->hasProtectedProfiles();
    const bool unlocked = m_controller->lockManager().isUnlocked();
    const QString symbol = unlocked ? QStringLiteral("lock.open.fill") : QStringLiteral("lock.fill");
    m_lockButton->setProperty("symbolName", symbol);
    m_lockButton->setIcon(ServicesSymbols::icon(symbol));
    m_lockButton->setEnabled(hasProtectedData && unlocked);
    m_lockButton->setAccessibleName(QStringLiteral("Lock protected data"));
    m_lockButton->setToolTip(QStringLiteral("Lock protected data"));
}

void ServicesView::updateDetail()
{
    const std::optional<ManagedService> service = m_controller->selectedService();
    if (!service) {
        m_detailHost->setCurrentWidget(m_emptyState);
        if (m_detail) {
            m_detail->deleteLater();
            m_detail = nullptr;
        }
        m_detailServiceId.reset();
        return;
    }
    // Another service is a new detail view; the same one is updated in place.
    if (!m_detail || m_detailServiceId != service->id) {
        if (m_detail)
            m_detail->deleteLater();
        m_detail = new ServiceDetailPlaceholder(*m_controller, *service, m_detailHost);
        m_detailHost->addWidget(m_detail);
        m_detailServiceId = service->id;
    } else {
        static_cast<ServiceDetailPlaceholder *>(m_detail)->update(*service);
    }
    m_detailHost->setCurrentWidget(m_detail);
}

void ServicesView::syncEditorSheet()
{
    const std::optional<ServiceEditorMode> &mode = m_controller->editorMode();
    if (!mode) {
        if (m_editor)
            m_editor->close();
        return;
    }
    if (m_editor && m_editor->mode().id() == mode->id())
        return;
    if (m_editor)
        m_editor->deleteLater();
    const ServiceEditorMode presented = *mode;
    const ManagedService draft = presented.service.value_or(ServicesController::newServiceDraft());
    QPointer<ServicesController> controller(m_controller);
    m_editor = new ServiceEditorView(
        presented, draft, m_controller->profilesManager(), m_controller->bookmarks(),
        [controller](ManagedService service) {
            if (controller)
                controller->saveEditedService(std::move(service));
        },
        [controller, presented] {
            if (controller)
                controller->deleteEditedService(presented);
        },
        this);
    m_editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_editor, &QDialog::finished, m_controller, [this, editor = m_editor.data()] {
        if (editor == m_editor)
            m_controller->closeEditor();
    });
    m_editor->open();
}

void ServicesView::syncSudoSheet()
{
    const std::optional<SudoPasswordRequest> &request = m_controller->sudoRequest();
    if (m_sudoSheet && (!request || m_sudoSheet->request() != *request)) {
        m_sudoSheet->hide();
        m_sudoSheet->deleteLater();
    }
    if (!request)
        return;
    if (m_sudoSheet && m_sudoSheet->request() == *request)
        return;
    const SudoPasswordRequest shown = *request;
    QPointer<ServicesController> controller(m_controller);
    m_sudoSheet = new SudoPasswordPromptView(
        shown,
        [controller, shown](QString password) {
            if (controller)
                controller->submitSudoPassword(shown, std::move(password));
        },
        [controller, shown] {
            if (controller)
                controller->launchWithoutPassword(shown);
        },
        [controller] {
            if (controller)
                controller->cancelSudoPrompt();
        },
        this);
    m_sudoSheet->open();
}

void ServicesView::syncThreatReviewSheet()
{
    const std::optional<CommandThreatReviewRequest> &request = m_controller->commandThreatRequest();
    if (m_reviewSheet && (!request || m_reviewSheet->request() != *request)) {
        m_reviewSheet->hide();
        m_reviewSheet->deleteLater();
    }
    if (!request)
        return;
    if (m_reviewSheet && m_reviewSheet->request() == *request)
        return;
    const CommandThreatReviewRequest shown = *request;
    QPointer<ServicesController> controller(m_controller);
    m_reviewSheet = new CommandThreatReviewView(
        shown,
        [controller, shown] {
            if (controller)
                controller->runAnyway(shown);
        },
        [controller] {
            if (controller)
                controller->cancelThreatReview();
        },
        this);
    m_reviewSheet->open();
}

void ServicesView::syncForceKillAlert()
{
    const std::optional<ManagedService> &pending = m_controller->confirmForceKill();
    if (!pending) {
        if (m_forceKillAlert) {
            m_forceKillAlert->hide();
            m_forceKillAlert->deleteLater();
        }
        return;
    }
    if (m_forceKillAlert) {
        m_forceKillAlert->setText(m_controller->forceTerminateMessage());
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Force Terminate?"),
                                  m_controller->forceTerminateMessage(), QMessageBox::NoButton, this);
    alert->setTextFormat(Qt::PlainText);
    alert->setWindowModality(Qt::WindowModal);
    alert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton *terminate = alert->addButton(QStringLiteral("Force Terminate"), QMessageBox::DestructiveRole);
    connect(alert, &QMessageBox::finished, m_controller, [this, alert, terminate] {
        if (alert != m_forceKillAlert)
            return;
        m_forceKillAlert = nullptr;
        alert->deleteLater();
        if (alert->clickedButton() == terminate)
            m_controller->forceKillService();
        else
            m_controller->cancelForceKill();
    });
    m_forceKillAlert = alert;
    alert->open();
}

void ServicesView::syncErrorAlert()
{
    const std::optional<QString> &message = m_controller->errorMessage();
    if (!message) {
        if (m_errorAlert) {
            m_errorAlert->hide();
            m_errorAlert->deleteLater();
        }
        return;
    }
    if (m_errorAlert) {
        m_errorAlert->setText(*message);
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Error"), *message, QMessageBox::NoButton, this);
    alert->setTextFormat(Qt::PlainText);
    alert->setWindowModality(Qt::WindowModal);
    alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    connect(alert, &QMessageBox::finished, m_controller, [this, alert] {
        if (alert != m_errorAlert)
            return;
        m_errorAlert = nullptr;
        alert->deleteLater();
        m_controller->dismissError();
    });
    m_errorAlert = alert;
    alert->open();
}
