#include "ui/screens/profiles/EnvironmentProfilesView.h"

#include "profiles/EnvironmentProfilesManager.h"
#include "profiles/ProtectedProfilesLockManager.h"
#include "ui/screens/ScreenStyle.h"
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
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ScreenStyle;

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
      m_manager(*profilesManager),
      m_lockManager(*lockManager),
      m_controller(new ProfilesController(*profilesManager, initialSelection, this))
{
    setWindowTitle(QStringLiteral("Environment Profiles"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeListColumn());
    auto *separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Plain);
    separator->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(tertiaryText())));
    layout->addWidget(separator);
    auto *detailColumn = new QWidget(this);
    m_detailLayout = new QVBoxLayout(detailColumn);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(detailColumn, 1);

    connect(&m_manager, &EnvironmentProfilesManager::profilesChanged, this, [this] {
        refreshList();
        refreshLockButton();
        refreshDetail();
    });
    connect(&m_manager, &EnvironmentProfilesManager::lockedProfileIDsChanged, this, [this] {
        refreshList();
        refreshDetail();
    });
    connect(&m_manager, &EnvironmentProfilesManager::keychainAccessGuidanceChanged, this,
            &EnvironmentProfilesView::refreshBanner);
    connect(&m_lockManager, &ProtectedProfilesLockManager::isUnlockedChanged, this,
            &EnvironmentProfilesView::refreshLockButton);
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

    refreshBanner();
    refreshLockButton();
    refreshDetail();
}

EnvironmentProfilesView::~EnvironmentProfilesView() = default;

QWidget *EnvironmentProfilesView::makeListColumn()
{
    auto *column = new QWidget(this);
    column->setFixedWidth(320);
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
    m_lockButton = new QToolButton(header);
    m_lockButton->setObjectName(QStringLiteral("lockButton"));
    m_lockButton->setAutoRaise(true);
    m_lockButton->setFixedSize(28, 28);
    connect(m_lockButton, &QToolButton::clicked, this, [this] { m_lockManager.lock(); });
    layout->addWidget(m_lockButton);
    layout->addStretch(1);
    auto *create = new QPushButton(QStringLiteral("Create Profile"), header);
    create->setObjectName(QStringLiteral("createProfileButton"));
    create->setToolTip(QStringLiteral("Add Environment Profile"));
    create->setDefault(true);
    connect(create, &QPushButton::clicked, m_controller, &ProfilesController::createProfile);
    layout->addWidget(create);
    return header;
}

QWidget *EnvironmentProfilesView::makeBanner()
{
    auto *outer = new QWidget(this);
    auto *outerLayout = new QVBoxLayout(outer);
    outerLayout->setContentsMargins(12, 0, 12, 10);
    auto *frame = new QFrame(outer);
    frame->setObjectName(QStringLiteral("keychainBanner"));
    QColor fill = color(Tint::orange);
    fill.setAlphaF(0.14f);
    frame->setStyleSheet(QStringLiteral("QFrame#keychainBanner { background: %1; border-radius: 10px; }").arg(cssColor(fill)));
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    auto *icon = new QLabel(frame);
    setSymbol(*icon, QStringLiteral("key.fill"), 16, color(Tint::orange));
    row->addWidget(icon, 0, Qt::AlignTop);
    m_bannerMessage = plainLabel(QString(), TextStyle::callout, frame);
    m_bannerMessage->setObjectName(QStringLiteral("keychainBannerMessage"));
    m_bannerMessage->setWordWrap(true);
    row->addWidget(m_bannerMessage, 1);
    layout->addLayout(row);
    auto *retry = new QPushButton(QStringLiteral("Try Again"), frame);
    retry->setObjectName(QStringLiteral("keychainRetryButton"));
    connect(retry, &QPushButton::clicked, this, [this] { startTask(m_controller->reloadProfiles()); });
    layout->addWidget(retry, 0, Qt::AlignLeft);
    outerLayout->addWidget(frame);
    m_banner = outer;
    return outer;
}

QWidget *EnvironmentProfilesView::makeSearchBox()
{
    auto *outer = new QWidget(this);
    auto *outerLayout = new QVBoxLayout(outer);
    outerLayout->setContentsMargins(12, 0, 12, 10);
    auto *box = new QFrame(outer);
    box->setObjectName(QStringLiteral("searchBox"));
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.18f);
    box->setStyleSheet(QStringLiteral("QFrame#searchBox { background: %1; border: 1px solid %2; border-radius: 8px; }")
                           .arg(cssColor(palette().color(QPalette::Base)), cssColor(border)));
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(6);
    auto *icon = new QLabel(box);
    setSymbol(*icon, QStringLiteral("magnifyingglass"), 14, secondaryText());
    layout->addWidget(icon);
    m_search = new QLineEdit(box);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setFrame(false);
    m_search->setPlaceholderText(QStringLiteral("Search by name"));
    m_search->setAccessibleName(QStringLiteral("Search by name"));
    m_search->setFixedHeight(20);
    m_search->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    connect(m_search, &QLineEdit::textChanged, m_controller, &ProfilesController::setSearchText);
    layout->addWidget(m_search, 1);
    m_clearSearch = new QToolButton(box);
    m_clearSearch->setObjectName(QStringLiteral("clearSearchButton"));
    m_clearSearch->setAutoRaise(true);
    m_clearSearch->setAccessibleName(QStringLiteral("Clear search"));
    setSymbol(*m_clearSearch, QStringLiteral("xmark.circle.fill"), 14, tertiaryText());
    m_clearSearch->setVisible(false);
    connect(m_clearSearch, &QToolButton::clicked, this, [this] { m_controller->setSearchText(QString()); });
    layout->addWidget(m_clearSearch);
    outerLayout->addWidget(box);
    return outer;
}

QWidget *EnvironmentProfilesView::makeEmptyState()
{
    auto *empty = new QWidget;
    empty->setObjectName(QStringLiteral("emptyState"));
    auto *layout = new QVBoxLayout(empty);
    layout->addStretch(1);
    auto *icon = new QLabel(empty);
    setSymbol(*icon, QStringLiteral("person.crop.circle"), 48, secondaryText());
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    layout->addWidget(plainLabel(QStringLiteral("Select a Profile"), TextStyle::title2, empty, QFont::Bold), 0,
                      Qt::AlignHCenter);
    auto *description = plainLabel(QStringLiteral("Choose a profile from the list or create a new one."),
                                   TextStyle::body, empty);
    description->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    layout->addWidget(description, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return empty;
}

void EnvironmentProfilesView::refreshList()
{
    m_model->refresh();
    if (const auto id = m_controller->selectedProfileID()) {
        const QModelIndex index = m_model->indexOf(*id);
        if (index.isValid())
            m_list->setCurrentIndex(index);
    }
}

void EnvironmentProfilesView::refreshBanner()
{
    const auto &guidance = m_manager.keychainAccessGuidance();
    m_banner->setVisible(guidance.has_value());
    m_bannerMessage->setText(guidance.value_or(QString()));
}

void EnvironmentProfilesView::refreshLockButton()
{
    m_lockButton->setVisible(m_controller->hasProtectedProfiles());
    const bool unlocked = m_lockManager.isUnlocked();
    setSymbol(*m_lockButton, unlocked ? QStringLiteral("lock.open.fill") : QStringLiteral("lock.fill"), 16,
              unlocked ? color(Tint::orange) : secondaryText());
    const QString help = unlocked ? QStringLiteral("Lock all protected environment profiles")
                                  : QStringLiteral("Protected environment profiles are locked");
    m_lockButton->setToolTip(help);
    m_lockButton->setAccessibleName(help);
    m_lockButton->setEnabled(unlocked);
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
    if (m_detail) {
        m_detailLayout->removeWidget(m_detail);
        m_detail->deleteLater();
    }
    if (next) {
        const EnvironmentProfile shown = next->first;
        QPointer<ProfilesController> controller = m_controller;
        m_detail = new ProfileDetailView(
            shown, next->second,
            [controller, shown] { return unlockShownProfile(controller, shown); },
            [controller, shown] {
                if (controller)
                    controller->editProfile(shown);
            });
        m_detail->setObjectName(QStringLiteral("profileDetail"));
    } else {
        m_detail = makeEmptyState();
    }
    m_detailLayout->addWidget(m_detail);
}

void EnvironmentProfilesView::showEditor()
{
    const auto &mode = m_controller->editorMode();
    if (!mode || m_editor)
        return;
    QPointer<ProfilesController> controller = m_controller;
    const ProfileEditorMode editorMode = *mode;
    auto *editor = new ProfileEditorView(
        editorMode, m_lockManager,
        [controller](const EnvironmentProfile &profile) {
            if (controller)
                controller->saveProfile(profile);
        },
        [controller, editorMode] {
            // An editor that creates has nothing stored to delete.
            if (controller && editorMode.isEdit())
                controller->deleteProfile(editorMode.profile);
        },
        this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::finished, m_controller, &ProfilesController::editorClosed);
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
        m_errorAlert->setText(*message);
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Error"), *message, QMessageBox::NoButton, this);
    alert->setObjectName(QStringLiteral("errorAlert"));
    alert->setTextFormat(Qt::PlainText);
    alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, m_controller, &ProfilesController::clearErrorMessage);
    m_errorAlert = alert;
    alert->open();
}

void EnvironmentProfilesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        m_controller->start();
    }
}
