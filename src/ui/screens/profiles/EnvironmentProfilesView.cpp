#include "ui/screens/profiles/EnvironmentProfilesView.h"

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
#include "ui/screens/profiles/ProfileDetailView.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfileRowDelegate.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/profiles/ProfilesListModel.h"
#include "ui/screens/profiles/ProfilesListView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

void startTask(QCoro::Task<> &&task)
{
    (void)std::move(task);
}

// Its own coroutine, so nothing it needs lives in a callback that may go away
// while the prompt is open.
QCoro::Task<> unlockShownProfile(QPointer<ProfilesController> controller, EnvironmentProfile profile)
{
    if (controller)
        co_await controller->unlockProfile(std::move(profile));
}
} // namespace

EnvironmentProfilesView::EnvironmentProfilesView(EnvironmentProfilesManager *profilesManager,
                                                 ProtectedProfilesLockManager *lockManager, QWidget *parent,
                                                 std::optional<QUuid> initialSelection)
    : QWidget(parent),
      m_controller(new ProfilesController(*profilesManager, *lockManager, initialSelection, this))
{
    setWindowTitle(QStringLiteral("Environment Profiles"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *chrome = new MasterDetailChrome(320, this);
    chrome->setSidebar(makeListColumn());
    auto *detailColumn = new QWidget;
    m_detailLayout = new QVBoxLayout(detailColumn);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    chrome->setDetail(detailColumn);
    layout->addWidget(chrome);

    connect(m_controller, &ProfilesController::profilesChanged, this, [this] {
        refreshList();
        refreshLockButton();
        refreshDetail();
    });
    connect(m_controller, &ProfilesController::lockedProfileIDsChanged, this, [this] {
        refreshList();
        refreshDetail();
    });
    connect(m_controller, &ProfilesController::keychainAccessGuidanceChanged, this,
            &EnvironmentProfilesView::refreshBanner);
    connect(m_controller, &ProfilesController::searchTextChanged, this, [this] {
        if (m_search->text() != m_controller->searchText())
            m_search->setText(m_controller->searchText());
        m_clearSearch->setVisible(!m_controller->searchText().isEmpty());
        refreshList();
    });
    connect(m_controller, &ProfilesController::selectedProfileIDChanged, this, [this] {
        refreshList();
        refreshDetail();
    });
    connect(m_controller, &ProfilesController::editorModeChanged, this, &EnvironmentProfilesView::showEditor);
    connect(m_controller, &ProfilesController::errorMessageChanged, this, &EnvironmentProfilesView::showErrorAlert);
    connect(m_controller, &ProfilesController::recoveredSecretsChanged, this,
            &EnvironmentProfilesView::showRecoveryNotice);

    refreshBanner();
    refreshLockButton();
    refreshDetail();
}

EnvironmentProfilesView::~EnvironmentProfilesView() = default;

QWidget *EnvironmentProfilesView::makeListColumn()
{
    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addWidget(makeBanner());
    layout->addWidget(makeSearchBox());
    m_model = new ProfilesListModel(*m_controller, this);
    m_list = new ProfilesListView(*m_controller, column);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new ProfileRowDelegate(m_list));
    layout->addWidget(m_list, 1);
    return column;
}

QWidget *EnvironmentProfilesView::makeHeader()
{
    auto *header = new QWidget(this);
    auto *layout = new QHBoxLayout(header);
    layout->setContentsMargins(14, 14, 14, 10);
    m_lockButton =
        new ProtectedDataLockButton(m_controller->hasProtectedProfiles(), m_controller->isUnlocked(), header);
    connect(m_controller, &ProfilesController::isUnlockedChanged, m_lockButton, &ProtectedDataLockButton::setUnlocked);
    connect(m_lockButton, &ProtectedDataLockButton::lockRequested, m_controller,
            &ProfilesController::lockProtectedProfiles);
    m_lockButton->setObjectName(QStringLiteral("lockButton"));
    layout->addWidget(m_lockButton);
    layout->addStretch(1);
    // The list's main action, filled like the Services list's own.
    auto *create = new ProminentButton(QStringLiteral("Create Profile"), Palette::Color::blue, header);
    create->setObjectName(QStringLiteral("createProfileButton"));
    create->setToolTip(QStringLiteral("Add Environment Profile"));
    create->setAutoDefault(false);
    connect(create, &QPushButton::clicked, m_controller, &ProfilesController::createProfile);
    m_createButton = create;
    layout->addWidget(create);
    return header;
}

QWidget *EnvironmentProfilesView::makeBanner()
{
    auto *outer = new QWidget(this);
    auto *layout = new QVBoxLayout(outer);
    layout->setContentsMargins(12, 0, 12, 10);
    m_banner = new KeychainAccessBanner(QString(), KeychainAccessBanner::Style::regular, outer);
    m_banner->setObjectName(QStringLiteral("keychainBanner"));
    connect(m_banner, &KeychainAccessBanner::retryRequested, this,
            [this] { startTask(m_controller->reloadProfiles()); });
    layout->addWidget(m_banner);
    m_bannerRow = outer;
    return outer;
}

QWidget *EnvironmentProfilesView::makeSearchBox()
{
    auto *outer = new QWidget(this);
    auto *outerLayout = new QVBoxLayout(outer);
    outerLayout->setContentsMargins(12, 0, 12, 10);
    auto *box = new SearchField(QStringLiteral("Search by name"), outer);
    m_search = box->textField();
    m_clearSearch = box->clearButton();
    connect(m_search, &QLineEdit::textChanged, m_controller, &ProfilesController::setSearchText);
    connect(m_clearSearch, &QToolButton::clicked, this, [this] { m_controller->setSearchText(QString()); });
    outerLayout->addWidget(box);
    return outer;
}

QWidget *EnvironmentProfilesView::makeEmptyState()
{
    auto *empty = new QWidget;
    empty->setObjectName(QStringLiteral("emptyState"));
    auto *layout = new QVBoxLayout(empty);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(new SymbolView(QStringLiteral("person.crop.circle"), 44, ThemeColor::secondary(), empty), 0,
                      Qt::AlignHCenter);
    layout->addWidget(new StyledLabel(QStringLiteral("Select a Profile"), TextStyle::title2, QFont::Bold,
                                      ThemeColor::primary(), empty),
                      0, Qt::AlignHCenter);
    layout->addWidget(new StyledLabel(QStringLiteral("Choose a profile from the list or create a new one."),
                                      TextStyle::body, QFont::Normal, ThemeColor::secondary(), empty),
                      0, Qt::AlignHCenter);
    layout->addStretch(1);
    return empty;
}

void EnvironmentProfilesView::refreshList()
{
    m_model->refresh();
    const std::optional<QUuid> selected = m_controller->selectedProfileID();
    m_list->showSelection(selected ? m_model->indexOf(*selected) : QModelIndex());
}

void EnvironmentProfilesView::refreshBanner()
{
    const auto &guidance = m_controller->keychainAccessGuidance();
    m_bannerRow->setVisible(guidance.has_value());
    m_banner->setMessage(guidance.value_or(QString()));
}

void EnvironmentProfilesView::refreshLockButton()
{
    m_lockButton->setHasProtectedData(m_controller->hasProtectedProfiles());
}

void EnvironmentProfilesView::refreshDetail()
{
    const auto profile = m_controller->selectedProfile();
    std::optional<std::pair<EnvironmentProfile, bool>> next;
    if (profile)
        next.emplace(*profile, m_controller->isLocked(profile->id));
    if (m_detailShown && next == m_shownDetail)
        return;
    m_detailShown = true;
    m_shownDetail = next;
    // Focus left inside a detail that goes (Delete in its editor, say) would
    // fall to the sidebar, away from this section.
    const QWidget *held = window()->focusWidget();
    const bool strands = m_detail && (!held || held == m_detail || m_detail->isAncestorOf(held));
    if (m_detail) {
        m_detailLayout->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    if (next) {
        const EnvironmentProfile shown = next->first;
        auto *detail = new ProfileDetailView(shown, next->second);
        // The task runs to its end on its own; the list redraws the detail.
        connect(detail, &ProfileDetailView::unlockRequested, m_controller,
                [controller = m_controller, shown] { startTask(unlockShownProfile(controller, shown)); });
        connect(detail, &ProfileDetailView::editRequested, m_controller,
                [controller = m_controller, shown] { controller->editProfile(shown); });
        m_detail = detail;
        m_detail->setObjectName(QStringLiteral("profileDetail"));
    } else {
        m_detail = makeEmptyState();
        if (strands && isVisible())
            (m_model->rowCount() > 0 ? static_cast<QWidget *>(m_list) : m_createButton)->setFocus(Qt::OtherFocusReason);
    }
    m_detailLayout->addWidget(m_detail);
}

void EnvironmentProfilesView::showEditor()
{
    const auto &mode = m_controller->editorMode();
    if (!mode || m_editor)
        return;
    const ProfileEditorMode editorMode = *mode;
    auto *editor = new ProfileEditorView(editorMode, *m_controller, this);
    connect(editor, &ProfileEditorView::saveRequested, m_controller, &ProfilesController::saveProfile);
    // An editor that creates has nothing stored to delete.
    if (editorMode.isEdit()) {
        connect(editor, &ProfileEditorView::deleteRequested, m_controller,
                [controller = m_controller, profile = editorMode.profile] { controller->deleteProfile(profile); });
    }
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::finished, m_controller, &ProfilesController::editorClosed);
    connect(m_controller, &ProfilesController::saveFinished, editor, &ProfileEditorView::saveFinished);
    m_editor = editor;
    editor->open();
}

void EnvironmentProfilesView::showErrorAlert()
{
    const auto &message = m_controller->errorMessage();
    if (!message) {
        if (m_errorAlert)
            m_errorAlert->close();
        return;
    }
    if (m_errorAlert) {
        m_errorAlert->setMessage(*message);
        return;
    }
    auto *alert = new TitledMessageBox(QMessageBox::Warning, QStringLiteral("Error"), *message, this);
    alert->setObjectName(QStringLiteral("errorAlert"));
    alert->addCancelButton(QStringLiteral("OK"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, m_controller, &ProfilesController::clearErrorMessage);
    m_errorAlert = alert;
    alert->open();
}

void EnvironmentProfilesView::showRecoveryNotice()
{
    if (!isVisible())
        return;
    const std::optional<QString> notice = m_controller->takeRecoveryNotice();
    if (!notice)
        return;
    if (m_recoveryNotice) {
        m_recoveryNotice->setMessage(m_recoveryNotice->message() + QLatin1Char('\n') + *notice);
        return;
    }
    auto *alert = new TitledMessageBox(QMessageBox::Information, QStringLiteral("Value Recovered"), *notice, this);
    alert->setObjectName(QStringLiteral("recoveryNotice"));
    alert->addCancelButton(QStringLiteral("OK"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_recoveryNotice = alert;
    alert->open();
}

void EnvironmentProfilesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showRecoveryNotice();
    if (!m_started) {
        m_started = true;
        m_controller->start();
    }
}
