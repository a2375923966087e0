#include "ui/screens/services/ServicesView.h"

#include "ui/components/KeychainAccessBanner.h"
#include "ui/components/MacTextField.h"
#include "ui/components/MasterDetailChrome.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/ProtectedDataLockButton.h"
#include "ui/components/SearchField.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/SegmentedPicker.h"
#include "ui/screens/services/ServiceDetailView.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServiceListModel.h"
#include "ui/screens/services/ServiceRowDelegate.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/SudoPasswordPromptView.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Closes the sheet when the request it shows is gone or another one came;
// tells whether a sheet for the current request must be opened.
template <typename Sheet, typename Request>
bool needsNewSheet(const QPointer<Sheet> &sheet, const std::optional<Request> &request)
{
    if (sheet && (!request || sheet->request() != *request)) {
        sheet->hide();
        sheet->deleteLater();
    }
    return request && !(sheet && sheet->request() == *request);
}

} // namespace

ServicesView::ServicesView(ServiceManager &serviceManager, EnvironmentProfilesManager &profilesManager,
                           ProtectedProfilesLockManager &lockManager, ServiceRunHistoryManager &historyManager,
                           SecurityScopedBookmarkStore *bookmarks, QWidget *parent)
    : QWidget(parent),
      m_controller(
          new ServicesController(serviceManager, profilesManager, lockManager, historyManager, bookmarks, this))
{
    setObjectName(QStringLiteral("servicesView"));
    setWindowTitle(QStringLiteral("Services"));
    m_model = new ServiceListModel(*m_controller, this);
    // A selection made before the screen is first shown (another screen asked
    // for a service) must not bring up a prompt now and again when shown.
    m_controller->setSelectionPromptsActive(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *chrome = new MasterDetailChrome(sidebarWidth, this);
    chrome->setSidebar(makeSidebar());
    auto *detailColumn = new QWidget(chrome);
    auto *right = new QVBoxLayout(detailColumn);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(makeToolbar());
    right->addWidget(makeDetailHost(), 1);
    chrome->setDetail(detailColumn);
    layout->addWidget(chrome);

    ServicesController &controller = *m_controller;
    connect(&controller, &ServicesController::selectedServiceIDChanged, this, &ServicesView::updateDetail);
    connect(&controller, &ServicesController::editorModeChanged, this, &ServicesView::syncEditorSheet);
    connect(&controller, &ServicesController::sudoRequestChanged, this, &ServicesView::syncSudoSheet);
    connect(&controller, &ServicesController::commandThreatRequestChanged, this, &ServicesView::syncThreatReviewSheet);
    connect(&controller, &ServicesController::confirmForceKillChanged, this, &ServicesView::syncForceKillAlert);
    connect(&controller, &ServicesController::errorMessageChanged, this, &ServicesView::syncErrorAlert);
    connect(&controller, &ServicesController::servicesChanged, this, &ServicesView::updateDetail);
    connect(&controller, &ServicesController::locksChanged, this, &ServicesView::updateDetail);
    connect(&controller, &ServicesController::runtimeEntryChanged, this, [this](const QUuid &id) {
        if (id == m_detailServiceId)
            updateDetail();
    });
    connect(&controller, &ServicesController::profilesChanged, this, [this] {
        updateDetail();
        updateLockButton();
    });
    connect(&controller, &ServicesController::keychainAccessGuidanceChanged, this, &ServicesView::updateKeychainBanner);
    updateKeychainBanner();
    updateLockButton();
    updateDetail();
}

ServicesView::~ServicesView() = default;

void ServicesView::selectService(const QUuid &serviceId)
{
    m_controller->setSelectedServiceID(serviceId);
}

void ServicesView::resetNavigation()
{
    m_controller->resetNavigation();
}

void ServicesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        m_controller->setSelectionPromptsActive(true);
}

void ServicesView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        m_controller->setSelectionPromptsActive(false);
}

bool ServicesView::eventFilter(QObject *watched, QEvent *event)
{
    // A click on empty space below or between the rows clears the selection.
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        const QModelIndex index = m_list->indexAt(press->position().toPoint());
        m_pressedSelectedRow =
            m_list->selectionModel()->isSelected(index) ? QPersistentModelIndex(index) : QPersistentModelIndex();
        if (!index.isValid())
            m_controller->setSelectedServiceID(std::nullopt);
    }
    // The list takes the focus with its first row current but unselected, and
    // an arrow selects only a row it moves to: at either end it would select none.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const QModelIndex current = m_list->currentIndex();
        if (current.isValid() && !m_list->selectionModel()->isSelected(current)
            && ((key == Qt::Key_Up && current.row() == 0)
                || (key == Qt::Key_Down && current.row() == m_model->rowCount() - 1)))
            m_list->selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
    }
    return QWidget::eventFilter(watched, event);
}

QWidget *ServicesView::makeSidebar()
{
    auto *sidebar = new QWidget(this);
    sidebar->setObjectName(QStringLiteral("servicesSidebar"));
    auto *column = new QVBoxLayout(sidebar);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(14, 14, 14, 10);
    header->addStretch(1);
    auto *create = new ProminentButton(QStringLiteral("Create Service"), Palette::Color::blue, sidebar);
    create->setObjectName(QStringLiteral("createServiceButton"));
    create->setToolTip(QStringLiteral("Add Service"));
    create->setAccessibleName(QStringLiteral("Create Service"));
    create->setAutoDefault(false);
    connect(create, &QPushButton::clicked, m_controller, &ServicesController::openCreateEditor);
    m_createButton = create;
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
    // The selection model mirrors the controller's selection, so assistive
    // technologies see the selected row as selected.
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setUniformItemSizes(true);
    m_list->setMouseTracking(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setAutoFillBackground(false);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->viewport()->installEventFilter(this);
    m_list->installEventFilter(this);
    // Whatever selects a row (a click, the arrow keys, an assistive
    // technology's select action) selects its service; the list writing the
    // controller's selection back does not feed back.
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_writingListSelection)
            return;
        const QModelIndexList rows = m_list->selectionModel()->selectedIndexes();
        const std::optional<ManagedService> service =
            rows.isEmpty() ? std::nullopt : m_model->service(rows.constFirst().row());
        m_controller->setSelectedServiceID(service ? std::optional<QUuid>(service->id) : std::nullopt);
    });
    // A click on the row that is already selected changes no selection, yet
    // asks for authentication again.
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (index != m_pressedSelectedRow)
            return;
        if (const std::optional<ManagedService> service = m_model->service(index.row()))
            m_controller->selectService(*service);
    });
    // A reset (reorder, search, reload) drops the list's selection, not the service's.
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_savedScrollValue = m_list->verticalScrollBar()->value();
        m_writingListSelection = true;
    });
    connect(m_model, &ServiceListModel::orderChanged, this, [this] {
        m_list->verticalScrollBar()->setValue(m_savedScrollValue);
        syncListSelection();
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, &ServicesView::syncListSelection);
    connect(m_controller, &ServicesController::selectedServiceIDChanged, this, &ServicesView::syncListSelection);
    auto *rows = new QVBoxLayout;
    rows->setContentsMargins(8, 0, 8, 8);
    rows->addWidget(m_list);
    column->addLayout(rows, 1);
    return sidebar;
}

QWidget *ServicesView::makeSearchField()
{
    auto *field = new SearchField(QStringLiteral("Search by name"), this);
    field->setObjectName(QStringLiteral("searchFieldFrame"));
    m_search = field->textField();
    m_clearSearch = field->clearButton();
    m_clearSearch->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    connect(m_search, &QLineEdit::textChanged, m_controller, &ServicesController::setSearchText);
    connect(m_clearSearch, &QToolButton::clicked, this, [this] { m_controller->setSearchText(QString()); });
    connect(m_controller, &ServicesController::searchTextChanged, field,
            [this, field] { field->showText(m_controller->searchText()); });
    return field;
}

QWidget *ServicesView::makeFilterPicker()
{
    const QList<ServiceFilter> filters = allServiceFilters();
    QStringList labels;
    for (ServiceFilter filter : filters)
        labels.append(segmentLabel(filter));
    m_filterPicker = new SegmentedPicker(labels, this);
    m_filterPicker->setObjectName(QStringLiteral("filterPicker"));
    m_filterPicker->setAccessibleName(QStringLiteral("Filter"));
    m_filterPicker->setCurrentIndex(static_cast<int>(filters.indexOf(m_controller->filter())));
    connect(m_filterPicker, &SegmentedPicker::activated, this,
            [this, filters](int index) { m_controller->setFilter(filters.at(index)); });
    connect(m_controller, &ServicesController::filterChanged, this, [this, filters] {
        m_filterPicker->setCurrentIndex(static_cast<int>(filters.indexOf(m_controller->filter())));
    });
    return m_filterPicker;
}

QWidget *ServicesView::makeKeychainBanner()
{
    auto *holder = new QWidget(this);
    holder->setObjectName(QStringLiteral("keychainBannerHolder"));
    auto *outer = new QVBoxLayout(holder);
    outer->setContentsMargins(12, 0, 12, 10);
    m_keychainBanner = new KeychainAccessBanner(QString(), KeychainAccessBanner::Style::regular, holder);
    m_keychainBanner->setObjectName(QStringLiteral("keychainBanner"));
    connect(m_keychainBanner, &KeychainAccessBanner::retryRequested, m_controller,
            [this] { m_controller->retryKeychainAccess(); });
    outer->addWidget(m_keychainBanner);
    return holder;
}

QWidget *ServicesView::makeToolbar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 0);
    row->addStretch(1);
    m_lockButton = new ProtectedDataLockButton(m_controller->hasProtectedProfiles(), m_controller->isUnlocked(), bar);
    connect(m_controller, &ServicesController::isUnlockedChanged, m_lockButton,
            [this] { m_lockButton->setUnlocked(m_controller->isUnlocked()); });
    connect(m_lockButton, &ProtectedDataLockButton::lockRequested, m_controller,
            &ServicesController::lockProtectedProfiles);
    m_lockButton->setObjectName(QStringLiteral("protectedDataLockButton"));
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
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(new SymbolView(QStringLiteral("terminal"), 40, ThemeColor::tertiary(), m_emptyState), 0,
                      Qt::AlignHCenter);
    auto *title = new StyledLabel(QStringLiteral("Select a Service"), TextStyle::title3, QFont::DemiBold,
                                  ThemeColor::primary(), m_emptyState);
    title->setObjectName(QStringLiteral("emptyStateTitle"));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto *description = new StyledLabel(QStringLiteral("Choose a service from the list or add a new one."),
                                        TextStyle::body, QFont::Normal, ThemeColor::secondary(), m_emptyState);
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);
    layout->addWidget(description);
    layout->addStretch(1);
    m_detailHost->addWidget(m_emptyState);

    m_detail = new ServiceDetailView(*m_controller, m_detailHost);
    m_detail->setObjectName(QStringLiteral("serviceDetailView"));
    // The buttons act on the service the detail view shows, whichever it is then.
    ServicesController *controller = m_controller;
    ServiceDetailView *detail = m_detail;
    connect(detail, &ServiceDetailView::unlockRequested, controller,
            [controller, detail] { controller->unlockService(detail->service()); });
    connect(detail, &ServiceDetailView::startRequested, controller,
            [controller, detail] { controller->launchService(detail->service(), SudoLaunchAction::start); });
    connect(detail, &ServiceDetailView::stopRequested, controller,
            [controller, detail] { controller->stopService(detail->service()); });
    connect(detail, &ServiceDetailView::restartRequested, controller,
            [controller, detail] { controller->launchService(detail->service(), SudoLaunchAction::restart); });
    connect(detail, &ServiceDetailView::forceKillRequested, controller,
            [controller, detail] { controller->requestForceKill(detail->service()); });
    connect(detail, &ServiceDetailView::editRequested, controller,
            [controller, detail] { controller->editService(detail->service()); });
    m_detailHost->addWidget(m_detail);
    return m_detailHost;
}

void ServicesView::updateKeychainBanner()
{
    const std::optional<QString> &guidance = m_controller->keychainAccessGuidance();
    m_keychainBanner->setMessage(guidance.value_or(QString()));
    m_keychainBanner->parentWidget()->setVisible(guidance.has_value());
}

void ServicesView::updateLockButton()
{
    m_lockButton->setHasProtectedData(m_controller->hasProtectedProfiles());
}

void ServicesView::updateDetail()
{
    const std::optional<ManagedService> service = m_controller->selectedService();
    if (!service) {
        // Focus left inside the detail (Delete in its editor, say) would
        // fall to the placeholder, which says nothing to a keyboard user.
        const QWidget *held = window()->focusWidget();
        const bool strands = !held || held == m_detailHost || m_detailHost->isAncestorOf(held);
        m_detailHost->setCurrentWidget(m_emptyState);
        if (strands && isVisible())
            (m_model->rowCount() > 0 ? static_cast<QWidget *>(m_list) : m_createButton)->setFocus(Qt::OtherFocusReason);
        if (m_detailServiceId)
            m_detail->forgetService();
        m_detailServiceId.reset();
        return;
    }
    ServicesController &controller = *m_controller;
    // The detail view starts afresh for another id and updates in place for the same one.
    m_detail->setService(*service);
    m_detail->setRuntime(controller.runtimeEntry(service->id));
    m_detail->setFlags(controller.isLocked(*service), controller.isLaunchLocked(*service),
                       controller.isEffectivelyProtected(*service));
    m_detailServiceId = service->id;
    m_detailHost->setCurrentWidget(m_detail);
}

void ServicesView::syncListSelection()
{
    const std::optional<QUuid> selected = m_controller->selectedServiceID();
    const int row = selected ? m_model->rowOf(*selected) : -1;
    QItemSelectionModel *selection = m_list->selectionModel();
    m_writingListSelection = true;
    if (row < 0) {
        selection->clearSelection();
    } else {
        const QModelIndex index = m_model->index(row);
        selection->select(index, QItemSelectionModel::ClearAndSelect);
        if (selection->currentIndex() != index)
            selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    m_writingListSelection = false;
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
    m_editor = new ServiceEditorView(presented, draft, *m_controller, this);
    connect(m_editor, &ServiceEditorView::saveRequested, m_controller, &ServicesController::saveEditedService);
    connect(m_controller, &ServicesController::saveFinished, m_editor, &ServiceEditorView::saveFinished);
    connect(m_editor, &ServiceEditorView::deleteRequested, m_controller,
            [controller = m_controller, presented] { controller->deleteEditedService(presented); });
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
    if (!needsNewSheet(m_sudoSheet, request))
        return;
    const SudoPasswordRequest shown = *request;
    m_sudoSheet = new SudoPasswordPromptView(shown, this);
    connect(m_sudoSheet, &SudoPasswordPromptView::passwordSubmitted, m_controller,
            [controller = m_controller, shown](SharedSensitiveBytes password) {
                controller->submitSudoPassword(shown, std::move(password));
            });
    connect(m_sudoSheet, &SudoPasswordPromptView::runWithoutPasswordRequested, m_controller,
            [controller = m_controller, shown] { controller->launchWithoutPassword(shown); });
    connect(m_sudoSheet, &SudoPasswordPromptView::cancelRequested, m_controller, &ServicesController::cancelSudoPrompt);
    m_sudoSheet->open();
}

void ServicesView::syncThreatReviewSheet()
{
    const std::optional<CommandThreatReviewRequest> &request = m_controller->commandThreatRequest();
    if (!needsNewSheet(m_reviewSheet, request))
        return;
    const CommandThreatReviewRequest shown = *request;
    m_reviewSheet = new CommandThreatReviewView(shown, this);
    connect(m_reviewSheet, &CommandThreatReviewView::runAnywayRequested, m_controller,
            [controller = m_controller, shown] { controller->runAnyway(shown); });
    connect(m_reviewSheet, &CommandThreatReviewView::cancelRequested, m_controller,
            &ServicesController::cancelThreatReview);
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
        m_forceKillAlert->setMessage(m_controller->forceTerminateMessage());
        return;
    }
    auto *alert = new TitledMessageBox(QMessageBox::Warning, QStringLiteral("Force Terminate?"),
                                       m_controller->forceTerminateMessage(), this);
    alert->addCancelButton();
    QPushButton *terminate = alert->addDestructiveButton(QStringLiteral("Force Terminate"));
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
        m_errorAlert->setMessage(*message);
        return;
    }
    auto *alert = new TitledMessageBox(QMessageBox::Warning, QStringLiteral("Error"), *message, this);
    alert->addCancelButton(QStringLiteral("OK"));
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
