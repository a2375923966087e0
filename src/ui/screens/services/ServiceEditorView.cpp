#include "ui/screens/services/ServiceEditorView.h"

#include "records/SecurityScopedBookmarkStore.h"
#include "ui/components/ButtonTextTint.h"
#include "ui/components/EnabledColor.h"
#include "ui/components/PaletteFollower.h"
#include "ui/components/InitialFocusSink.h"
#include "ui/components/LabeledField.h"
#include "ui/components/NameRule.h"
#include "ui/components/MacMultilineTextField.h"
#include "ui/components/MacTextField.h"
#include "ui/components/NamedComboBox.h"
#include "ui/components/Palette.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/TitledMessageBox.h"
#include "ui/screens/services/PathPickerDialog.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ShellPathInsertion.h"

#include <algorithm>

#include <QComboBox>
#include <QCoroFuture>
#include <QCoroTask>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int labelWidth = 130;

// Remembering a bookmark is best effort: a failure changes nothing the user sees.
QCoro::Task<> rememberBookmark(SecurityScopedBookmarkStore *store, QString path)
{
    try {
        co_await store->rememberBookmark(path);
    } catch (...) {}
}

StyledLabel *footerLabel(const QString &text, QWidget *parent)
{
    auto *label = new StyledLabel(text, TextStyle::caption, QFont::Normal, ThemeColor::secondary(), parent);
    label->setWordWrap(true);
    return label;
}

// One grouped section: a header above a rounded card, an optional footer below.
QWidget *section(const QString &header, QWidget *content, QWidget *footer, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        auto *title = new StyledLabel(header, TextStyle::subheadline, QFont::DemiBold, ThemeColor::secondary(), box);
        title->setContentsMargins(SurfaceCard::shadowMargin, 0, 0, 0);
        layout->addWidget(title);
    }
    auto *card = new SurfaceCard(12, box);
    card->setObjectName(QStringLiteral("editorCard"));
    card->contentLayout()->setSpacing(8);
    content->setParent(card);
    card->contentLayout()->addWidget(content);
    layout->addWidget(card);
    if (footer) {
        footer->setParent(box);
        footer->setContentsMargins(SurfaceCard::shadowMargin, 0, SurfaceCard::shadowMargin, 0);
        layout->addWidget(footer);
    }
    return box;
}

} // namespace

ServiceEditorView::ServiceEditorView(ServiceEditorMode mode, ManagedService draft, ServicesController &controller,
                                     QWidget *parent)
    : QDialog(parent),
      m_mode(std::move(mode)),
      m_draft(std::move(draft)),
      m_controller(controller)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(m_mode.isCreate() ? QStringLiteral("Add Service") : QStringLiteral("Edit Service"));

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 16);
    outer->setSpacing(12);
    // The form scrolls on a screen shorter than it, so the buttons below stay reachable.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("editorScroll"));
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    auto *form = new QWidget(scroll);
    form->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(form);
    // The cards keep room for their shadow; everything else lines up with their edge.
    layout->setContentsMargins(20 - SurfaceCard::shadowMargin, 16, 20 - SurfaceCard::shadowMargin, 0);
    layout->setSpacing(12);
    // Takes the first focus so that no field starts editing on its own.
    layout->addWidget(new InitialFocusSink(form));
    auto *title = new StyledLabel(windowTitle(), TextStyle::title3, QFont::DemiBold, ThemeColor::primary(), form);
    title->setContentsMargins(SurfaceCard::shadowMargin, 0, 0, 0);
    layout->addWidget(title);
    layout->addWidget(makeServiceSection());
    layout->addWidget(makeCommandSection(), 1);
    layout->addWidget(makeEnvironmentSection());
    layout->addWidget(makeLaunchSection());
    scroll->setWidget(form);
    outer->addWidget(scroll, 1);
    QWidget *buttons = makeButtons();
    buttons->setContentsMargins(20 - SurfaceCard::shadowMargin, 0, 20 - SurfaceCard::shadowMargin, 0);
    outer->addWidget(buttons);

    // The whole form where the screen has room (never less than 500 high, so
    // the command field does not fold to nothing); a shorter screen scrolls it.
    const int belowForm = outer->spacing() + buttons->sizeHint().height() + outer->contentsMargins().bottom();
    const int formHeight = std::max(500, form->minimumSizeHint().height() + belowForm);
    QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    // Less the window's title bar, which the available geometry still includes.
    const int room = std::max(200, screen ? screen->availableGeometry().height() - 40 : formHeight);
    setMinimumSize(std::max(580, form->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width()),
                   std::min(formHeight, room));
    resize(std::max(sizeHint().width(), minimumWidth()),
           std::min(std::max(formHeight, form->sizeHint().height() + belowForm), room));

    connect(&controller, &ServicesController::profilesChanged, this, &ServiceEditorView::fillProfilePicker);
    updateSaveEnabled();
}

bool ServiceEditorView::canSave() const
{
    return !m_draft.name.trimmed().isEmpty() && !NameRule::hasControlCharacters(m_draft.name)
           && !m_draft.command.trimmed().isEmpty();
}

QWidget *ServiceEditorView::makeServiceSection()
{
    m_name = new MacTextField(QStringLiteral("My Service"), MacTextField::Style::rounded, false, false, this);
    m_name->setObjectName(QStringLiteral("nameField"));
    m_name->setAccessibleName(QStringLiteral("Name"));
    m_name->setText(m_draft.name);
    m_name->setFixedHeight(24);
    auto *content = new QWidget(this);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new LabeledField(QStringLiteral("Name"), labelWidth, m_name, content));
    m_nameMessage = new StyledLabel(NameRule::controlCharacterMessage(), TextStyle::footnote, QFont::Normal,
                                    Palette::Color::red, content);
    m_nameMessage->setObjectName(QStringLiteral("nameMessage"));
    m_nameMessage->setWordWrap(true);
    m_nameMessage->setContentsMargins(labelWidth + 12, 0, 0, 0);
    m_nameMessage->setVisible(NameRule::hasControlCharacters(m_draft.name));
    layout->addWidget(m_nameMessage);
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString &name) {
        m_draft.name = name;
        m_nameMessage->setVisible(NameRule::hasControlCharacters(name));
        updateSaveEnabled();
    });
    return section(QStringLiteral("Service"), content, nullptr, this);
}

QWidget *ServiceEditorView::makeCommandSection()
{
    auto *content = new QWidget(this);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_command = new MacMultilineTextField(96, false, content);
    m_command->setObjectName(QStringLiteral("commandField"));
    m_command->setAccessibleName(QStringLiteral("Shell Command"));
    m_command->setPlainText(m_draft.command);
    m_command->setTabChangesFocus(true);
    connect(m_command, &QTextEdit::textChanged, this, [this] {
        m_draft.command = m_command->toPlainText();
        updateSaveEnabled();
    });
    layout->addWidget(m_command, 1);

    auto *insert = new QPushButton(QStringLiteral("Insert Path…"), content);
    insert->setObjectName(QStringLiteral("insertPathButton"));
    setButtonSymbol(insert, QStringLiteral("folder"), primaryTextColor(), 14);
    connect(insert, &QPushButton::clicked, this, &ServiceEditorView::insertPath);
    auto *insertRow = new QHBoxLayout;
    insertRow->addWidget(insert);
    insertRow->addStretch(1);
    layout->addLayout(insertRow);

    return section(QStringLiteral("Shell Command"), content,
                   footerLabel(QStringLiteral("Runs in your default shell (login shell) from your home folder. "
                                              "Supports pipes, flags, and interpreters like python3 or node."),
                               this),
                   this);
}

QWidget *ServiceEditorView::makeEnvironmentSection()
{
    m_profilePicker = new NamedComboBox(this);
    m_profilePicker->setObjectName(QStringLiteral("profilePicker"));
    m_profilePicker->setAccessibleName(QStringLiteral("Profile"));
    fillProfilePicker();
    // Any change of choice, a screen reader's too; a refill leaves the draft alone.
    connect(m_profilePicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0 || m_refillingProfiles)
            return;
        const QVariant profileId = m_profilePicker->itemData(index);
        m_draft.environmentProfileId = profileId.isValid() ? std::optional<QUuid>(profileId.toUuid()) : std::nullopt;
    });
    return section(QStringLiteral("Environment"),
                   new LabeledField(QStringLiteral("Profile"), labelWidth, m_profilePicker, this), nullptr, this);
}

void ServiceEditorView::fillProfilePicker()
{
    // Not with its signals blocked: the picker shows its choice to screen readers when it changes.
    const QScopedValueRollback refilling(m_refillingProfiles, true);
    m_profilePicker->clear();
    m_profilePicker->addItem(QStringLiteral("None"));
    for (const EnvironmentProfile &profile : m_controller.profiles())
        m_profilePicker->addItem(NameRule::oneLine(profile.name), profile.id);
    // A profile that no longer exists shows no choice and stays in the draft.
    m_profilePicker->setCurrentIndex(
        m_draft.environmentProfileId ? m_profilePicker->findData(*m_draft.environmentProfileId) : 0);
}

QWidget *ServiceEditorView::makeLaunchSection()
{
    m_launchPicker = new NamedComboBox(this);
    m_launchPicker->setObjectName(QStringLiteral("launchOptionPicker"));
    m_launchPicker->setAccessibleName(QStringLiteral("Launch Option"));
    m_launchPicker->addItem(QStringLiteral("Velmora"), false);
    m_launchPicker->addItem(QStringLiteral("Terminal"), true);
    m_launchPicker->setCurrentIndex(m_draft.openInTerminal ? 1 : 0);
    connect(m_launchPicker, &QComboBox::currentIndexChanged, this,
            [this](int index) { setOpenInTerminal(m_launchPicker->itemData(index).toBool()); });
    m_launchFooter = footerLabel(QString(), this);
    m_launchFooter->setObjectName(QStringLiteral("launchFooter"));
    updateLaunchFooter();
    return section(QStringLiteral("Launch Option"),
                   new LabeledField(QStringLiteral("Launch Option"), labelWidth, m_launchPicker, this), m_launchFooter,
                   this);
}

QWidget *ServiceEditorView::makeButtons()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(SurfaceCard::shadowMargin, 0, SurfaceCard::shadowMargin, 0);
    layout->setSpacing(8);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), row);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(cancel);
    if (!m_mode.isCreate()) {
        auto *remove = new QPushButton(QStringLiteral("Delete"), row);
        remove->setObjectName(QStringLiteral("deleteButton"));
        followPalette(remove, [remove] {
            setEnabledColor(remove, QPalette::ButtonText, legibleButtonText(remove, Palette::red()));
        });
        connect(remove, &QPushButton::clicked, this, &ServiceEditorView::confirmDelete);
        layout->addWidget(remove);
    }
    layout->addStretch(1);
    m_save = new ProminentButton(QStringLiteral("Save"), Palette::Color::blue, row);
    m_save->setObjectName(QStringLiteral("saveButton"));
    // Return in a one-line field or on a picker saves; the command field takes it as a new line.
    m_save->setDefault(true);
    connect(m_save, &QPushButton::clicked, this, &ServiceEditorView::save);
    layout->addWidget(m_save);
    return row;
}

void ServiceEditorView::setOpenInTerminal(bool openInTerminal)
{
    if (m_draft.openInTerminal == openInTerminal)
        return;
    m_draft.openInTerminal = openInTerminal;
    if (m_launchPicker->currentIndex() != (openInTerminal ? 1 : 0))
        m_launchPicker->setCurrentIndex(openInTerminal ? 1 : 0);
    updateLaunchFooter();
    if (openInTerminal)
        scheduleTerminalConfirmation();
}

void ServiceEditorView::scheduleTerminalConfirmation()
{
    if (m_isConfirmingTerminalLaunch)
        return;
    QTimer::singleShot(terminalConfirmationDelayMs, this, [this] {
        if (m_draft.openInTerminal && !m_isConfirmingTerminalLaunch)
            confirmTerminalLaunch();
    });
}

void ServiceEditorView::confirmTerminalLaunch()
{
    m_isConfirmingTerminalLaunch = true;
    auto *question = new TitledMessageBox(
        QMessageBox::Warning, QStringLiteral("Use Terminal?"),
        QStringLiteral("Terminal launches are not tracked in run history, do not report CPU/RAM/uptime metrics, and do "
                       "not stream output in Velmora. Your environment profile is still applied at launch."),
        this);
    question->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *useTerminal = question->addDefaultButton(QStringLiteral("Use Terminal"), QMessageBox::AcceptRole);
    question->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    connect(question, &QMessageBox::finished, this, [this, question, useTerminal] {
        m_isConfirmingTerminalLaunch = false;
        if (question->clickedButton() != useTerminal)
            setOpenInTerminal(false);
    });
    m_question = question;
    question->open();
}

void ServiceEditorView::confirmDelete()
{
    const QString name = m_draft.name.isEmpty() ? QStringLiteral("This service") : NameRule::oneLine(m_draft.name);
    auto *question = new TitledMessageBox(
        QMessageBox::Warning, QStringLiteral("Delete Service?"),
        QStringLiteral("“") + name + QStringLiteral("” will be removed permanently. This cannot be undone."), this);
    question->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *remove = question->addDestructiveButton(QStringLiteral("Delete"));
    question->addCancelButton();
    connect(question, &QMessageBox::finished, this, [this, question, remove] {
        if (question->clickedButton() != remove)
            return;
        Q_EMIT deleteRequested();
        accept();
        // The service is gone; a window manager may leave no window active.
        if (QWidget *owner = parentWidget())
            owner->window()->activateWindow();
    });
    m_question = question;
    question->open();
}

void ServiceEditorView::insertPath()
{
    auto *picker = new PathPickerDialog(this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    connect(picker, &PathPickerDialog::pathPicked, this, &ServiceEditorView::insertPickedPath);
    picker->open();
}

void ServiceEditorView::insertPickedPath(const QString &path)
{
    if (path.isEmpty())
        return;
    m_command->setPlainText(ShellPathInsertion::insertPathIntoCommand(path, m_draft.command));
    m_command->moveCursor(QTextCursor::End);
    m_draft.command = m_command->toPlainText();
    if (SecurityScopedBookmarkStore *bookmarks = m_controller.bookmarks())
        rememberBookmark(bookmarks, path);
}

void ServiceEditorView::save()
{
    if (!canSave() || m_isSaving)
        return;
    // The sheet stays open with the draft until the save has an answer: a
    // failed write must not lose what was typed.
    m_isSaving = true;
    updateSaveEnabled();
    Q_EMIT saveRequested(m_draft);
}

void ServiceEditorView::saveFinished(bool saved)
{
    if (!m_isSaving)
        return;
    m_isSaving = false;
    if (saved)
        accept();
    else
        updateSaveEnabled();
}

void ServiceEditorView::updateSaveEnabled()
{
    if (m_save)
        m_save->setEnabled(canSave() && !m_isSaving);
}

void ServiceEditorView::updateLaunchFooter()
{
    m_launchFooter->setText(m_draft.openInTerminal
                                ? QStringLiteral("Opens in a terminal window. Run history, live metrics, and streamed "
                                                 "output are not available. Environment profiles are still applied.")
                                : QStringLiteral("Runs in the background and is managed by Velmora (streamed output, "
                                                 "metrics, start/stop, run history)."));
}
