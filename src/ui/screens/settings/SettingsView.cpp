#include "ui/screens/settings/SettingsView.h"

#include "records/ApplicationSupport.h"
#include "ui/components/ButtonTextTint.h"
#include "ui/components/ClickOutsideEditingMonitor.h"
#include "ui/components/EnabledColor.h"
#include "ui/components/InitialFocusSink.h"
#include "ui/components/LabeledField.h"
#include "ui/components/MacTextField.h"
#include "ui/components/PaletteFollower.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeManager.h"
#include "ui/components/TitledMessageBox.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A group of the form: a rounded, faintly filled box that follows the theme.
class FormGroup final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.05f);
        painter.setPen(ThemeColor::separator().resolve(this));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    }
};

} // namespace

SettingsView::SettingsView(SettingsRepository *repository, SettingsController::SettingsSource currentSettings,
                           SettingsController::SettingsSink applySettings, QWidget *parent)
    : QWidget(parent),
      m_controller(new SettingsController(*repository, std::move(currentSettings), std::move(applySettings), this))
{
    setWindowTitle(QStringLiteral("Settings"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(18);
    layout->addWidget(new InitialFocusSink(this));
    layout->addWidget(
        makeSection(QStringLiteral("Appearance"), QStringLiteral("circle.lefthalf.filled"), makeAppearanceContent()));
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
    // The toggle shows the window's scheme while the mode follows the system.
    connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, this, &SettingsView::refresh);
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
        header->addWidget(new SymbolView(symbolName, 14, ThemeColor::secondary(), section));
        header->addWidget(new StyledLabel(title, TextStyle::headline, section));
        header->addStretch(1);
        layout->addLayout(header);
    }
    auto *card = new FormGroup(section);
    card->setObjectName(QStringLiteral("settingsGroup"));
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
    // Any toggle (a click, Space, an assistive technology's toggle) commits the
    // mode; refresh() shows it without one.
    connect(m_darkMode, &QCheckBox::toggled, this, [this](bool on) {
        m_controller->setAppearanceMode(on ? AppAppearanceMode::dark : AppAppearanceMode::light);
    });
    return m_darkMode;
}

QWidget *SettingsView::makeShellContent()
{
    m_shell = new MacTextField(AppSettings::defaultShellPath(), MacTextField::Style::rounded, false, false);
    m_shell->setObjectName(QStringLiteral("defaultShellField"));
    m_shell->setAccessibleName(QStringLiteral("Default Shell"));
    m_shell->setFixedHeight(24);
    connect(m_shell, &QLineEdit::textChanged, m_controller, &SettingsController::setDraftShell);
    return new LabeledField(QStringLiteral("Default Shell"), 130, m_shell);
}

QWidget *SettingsView::makeStorageContent()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(new StyledLabel(QStringLiteral("Config"), TextStyle::body, row));
    layout->addStretch(1);
    m_path = new StyledLabel(QString(), TextStyle::caption, QFont::Normal, ThemeColor::secondary(), row);
    m_path->setObjectName(QStringLiteral("dataFolderPath"));
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
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
    auto *save = new ProminentButton(QStringLiteral("Save Settings"), Palette::Color::blue, row);
    save->setSymbolName(QStringLiteral("checkmark.circle.fill"));
    m_save = save;
    m_save->setObjectName(QStringLiteral("saveSettingsButton"));
    m_save->setDefault(true);
    connect(m_save, &QPushButton::clicked, m_controller, &SettingsController::saveSettings);
    m_reset = new QPushButton(QStringLiteral("Reset to Defaults"), row);
    m_reset->setObjectName(QStringLiteral("resetSettingsButton"));
    m_reset->setAutoDefault(false);
    followPalette(m_reset, [reset = m_reset] {
        const QColor tint = legibleButtonText(reset, Palette::red());
        setEnabledColor(reset, QPalette::ButtonText, tint);
        setButtonSymbol(reset, QStringLiteral("arrow.counterclockwise"), tint, 14);
    });
    connect(m_reset, &QPushButton::clicked, this, &SettingsView::confirmReset);
    // The filled button and the style's button share one row height.
    const int height = std::max(m_save->sizeHint().height(), m_reset->sizeHint().height());
    m_save->setFixedHeight(height);
    m_reset->setFixedHeight(height);
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
    const bool dark = m_controller->isDarkModeEnabled(ThemeManager::instance().isDark());
    {
        const QSignalBlocker blocker(m_darkMode);
        m_darkMode->setChecked(dark);
    }
    setButtonSymbol(m_darkMode, dark ? QStringLiteral("moon.fill") : QStringLiteral("sun.max.fill"),
                    secondaryTextColor(), 16);
    m_shell->setBoundText(draft.defaultShell);
    m_darkMode->setEnabled(m_ready);
    m_shell->setEnabled(m_ready);
    m_save->setEnabled(m_ready && m_controller->hasUnsavedChanges());
    m_reset->setEnabled(m_ready && !m_controller->isDraftAtDefaults());
}

void SettingsView::confirmReset()
{
    auto *box = new TitledMessageBox(
        QMessageBox::Warning, QStringLiteral("Reset settings to defaults?"),
        QStringLiteral("This restores all settings to their default values and saves immediately."), this);
    box->setObjectName(QStringLiteral("resetConfirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *reset = box->addDestructiveButton(QStringLiteral("Reset to Defaults"));
    box->addCancelButton();
    connect(box, &QMessageBox::finished, this, [this, box, reset] {
        if (box->clickedButton() != reset)
            return;
        // A pending edit of the shell field ends (on the next turn of the event
        // loop) before the defaults come in: a field being edited takes no update.
        endEditingInKeyWindow();
        QTimer::singleShot(0, m_controller, &SettingsController::resetToDefaults);
    });
    m_alert = box;
    box->open();
}

void SettingsView::showAlert(const QString &title, const std::optional<QString> &message,
                             void (SettingsController::*clear)())
{
    if (!message)
        return;
    auto *box = new TitledMessageBox(title == QStringLiteral("Error") ? QMessageBox::Warning : QMessageBox::Information,
                                     title, *message, this);
    box->setObjectName(title == QStringLiteral("Error") ? QStringLiteral("errorAlert") : QStringLiteral("savedAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addCancelButton(QStringLiteral("OK"));
    connect(box, &QMessageBox::finished, m_controller, clear);
    m_alert = box;
    box->open();
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_path->setText(applicationSupportDirectory());
    // A window that comes back from being minimised keeps its edits.
    if (m_ready && !event->spontaneous())
        m_controller->reseed();
    refresh();
}
