#include "ui/screens/settings/SettingsView.h"

#include "records/ApplicationSupport.h"
#include "ui/screens/ScreenStyle.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace ScreenStyle;

SettingsView::SettingsView(SettingsRepository *repository, SettingsController::SettingsSource currentSettings,
                           SettingsController::SettingsSink applySettings, QWidget *parent)
    : QWidget(parent),
      m_controller(new SettingsController(*repository, std::move(currentSettings), std::move(applySettings), this))
{
    setWindowTitle(QStringLiteral("Settings"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(18);
    layout->addWidget(makeSection(QStringLiteral("Appearance"), QStringLiteral("circle.lefthalf.filled"),
                                  makeAppearanceContent()));
    layout->addWidget(makeSection(QStringLiteral("Process Execution"), QStringLiteral("terminal"), makeShellContent()));
    layout->addWidget(makeSection(QStringLiteral("Storage"), QStringLiteral("internaldrive"), makeStorageContent()));
    layout->addWidget(makeSection(QString(), QString(), makeButtons()));
    layout->addStretch(1);

    connect(m_controller, &SettingsController::draftChanged, this, &SettingsView::refresh);
    connect(m_controller, &SettingsController::settingsCommitted, this, &SettingsView::refresh);
    connect(m_controller, &SettingsController::saveMessageChanged, this, [this] {
        showAlert(QStringLiteral("Saved"), m_controller->saveMessage(), &SettingsController::clearSaveMessage);
    });
    connect(m_controller, &SettingsController::errorMessageChanged, this, [this] {
        showAlert(QStringLiteral("Error"), m_controller->errorMessage(), &SettingsController::clearErrorMessage);
    });
    m_controller->reseed();
    setApplicationReady(false);
    refresh();
}

QWidget *SettingsView::makeSection(const QString &title, const QString &symbolName, QWidget *content)
{
    auto *section = new QWidget(this);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    if (!title.isEmpty()) {
        auto *header = new QHBoxLayout;
        header->setSpacing(6);
        auto *icon = new QLabel(section);
        setSymbol(*icon, symbolName, 14, secondaryText());
        header->addWidget(icon);
        auto *label = plainLabel(title, TextStyle::headline, section);
        header->addWidget(label);
        header->addStretch(1);
        layout->addLayout(header);
    }
    auto *card = new QFrame(section);
    card->setObjectName(QStringLiteral("settingsGroup"));
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(isDark() ? 0.07f : 0.04f);
    QColor outline = palette().color(QPalette::WindowText);
    outline.setAlphaF(0.1f);
    card->setStyleSheet(QStringLiteral("QFrame#settingsGroup { background: %1; border: 1px solid %2; border-radius: 10px; }")
                            .arg(cssColor(fill), cssColor(outline)));
    auto *cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(14, 10, 14, 10);
    cardLayout->addWidget(content);
    layout->addWidget(card);
    return section;
}

QWidget *SettingsView::makeAppearanceContent()
{
    m_darkMode = new QCheckBox(QStringLiteral("Dark Mode"));
    m_darkMode->setObjectName(QStringLiteral("darkModeToggle"));
    m_darkMode->setIconSize(QSize(16, 16));
    connect(m_darkMode, &QCheckBox::clicked, this, [this](bool on) {
        m_controller->setAppearanceMode(on ? AppAppearanceMode::dark : AppAppearanceMode::light);
    });
    return m_darkMode;
}

QWidget *SettingsView::makeShellContent()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto *label = plainLabel(QStringLiteral("Default Shell"), TextStyle::body, row);
    label->setFixedWidth(130);
    m_shell = new QLineEdit(row);
    m_shell->setObjectName(QStringLiteral("defaultShellField"));
    m_shell->setPlaceholderText(QStringLiteral("/bin/zsh"));
    m_shell->setAccessibleName(QStringLiteral("Default Shell"));
    m_shell->setFixedHeight(24);
    label->setBuddy(m_shell);
    connect(m_shell, &QLineEdit::textEdited, m_controller, &SettingsController::setDraftShell);
    layout->addWidget(label);
    layout->addWidget(m_shell, 1);
    return row;
}

QWidget *SettingsView::makeStorageContent()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(plainLabel(QStringLiteral("Config"), TextStyle::body, row));
    layout->addStretch(1);
    m_path = plainLabel(QString(), TextStyle::caption, row);
    m_path->setObjectName(QStringLiteral("dataFolderPath"));
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_path->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    m_path->setWordWrap(true);
    m_path->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(m_path, 1);
    return row;
}

QWidget *SettingsView::makeButtons()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_save = new QPushButton(QStringLiteral("Save Settings"), row);
    m_save->setObjectName(QStringLiteral("saveSettingsButton"));
    m_save->setDefault(true);
    setSymbol(*m_save, QStringLiteral("checkmark.circle.fill"), 14);
    connect(m_save, &QPushButton::clicked, m_controller, &SettingsController::saveSettings);
    m_reset = new QPushButton(QStringLiteral("Reset to Defaults"), row);
    m_reset->setObjectName(QStringLiteral("resetSettingsButton"));
    m_reset->setAutoDefault(false);
    setSymbol(*m_reset, QStringLiteral("arrow.counterclockwise"), 14, color(Tint::red));
    m_reset->setStyleSheet(QStringLiteral("QPushButton { color: %1; }").arg(cssColor(color(Tint::red))));
    connect(m_reset, &QPushButton::clicked, this, &SettingsView::confirmReset);
    layout->addWidget(m_save);
    layout->addWidget(m_reset);
    layout->addStretch(1);
    return row;
}

void SettingsView::setApplicationReady(bool ready)
{
    m_ready = ready;
    // Before start-up has read settings.json, any commit would write the
    // defaults over the stored settings.
    if (ready)
        m_controller->reseed();
    refresh();
}

void SettingsView::refresh()
{
    const AppSettings &draft = m_controller->draft();
    const bool dark = m_controller->isDarkModeEnabled(isDark());
    m_darkMode->setChecked(dark);
    setSymbol(*m_darkMode, dark ? QStringLiteral("moon.fill") : QStringLiteral("sun.max.fill"), 16, secondaryText());
    if (m_shell->text() != draft.defaultShell)
        m_shell->setText(draft.defaultShell);
    m_darkMode->setEnabled(m_ready);
    m_shell->setEnabled(m_ready);
    m_save->setEnabled(m_ready && m_controller->hasUnsavedChanges());
    m_reset->setEnabled(m_ready && !m_controller->isDraftAtDefaults());
}

void SettingsView::confirmReset()
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Reset settings to defaults?"),
                                QStringLiteral("This restores all settings to their default values and saves "
                                               "immediately."),
                                QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("resetConfirmation"));
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *reset = box->addButton(QStringLiteral("Reset to Defaults"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    connect(box, &QMessageBox::finished, this, [this, box, reset] {
        if (box->clickedButton() != reset)
            return;
        // A pending edit of the shell field ends before the defaults come in.
        if (QWidget *focused = focusWidget())
            focused->clearFocus();
        m_controller->resetToDefaults();
    });
    m_alert = box;
    box->open();
}

void SettingsView::showAlert(const QString &title, const std::optional<QString> &message,
                             void (SettingsController::*clear)())
{
    if (!message)
        return;
    auto *box = new QMessageBox(title == QStringLiteral("Error") ? QMessageBox::Warning : QMessageBox::Information,
                                title, *message, QMessageBox::NoButton, this);
    box->setObjectName(title == QStringLiteral("Error") ? QStringLiteral("errorAlert") : QStringLiteral("savedAlert"));
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    connect(box, &QMessageBox::finished, m_controller, clear);
    m_alert = box;
    box->open();
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_path->setText(applicationSupportDirectory());
    if (m_ready)
        m_controller->reseed();
    refresh();
}

void SettingsView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // The toggle shows the window's scheme while the mode follows the system.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        QTimer::singleShot(0, this, &SettingsView::refresh);
}
