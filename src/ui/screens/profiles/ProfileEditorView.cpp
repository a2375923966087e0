#include "ui/screens/profiles/ProfileEditorView.h"

#include "ui/components/ButtonTextTint.h"
#include "ui/components/EnabledColor.h"
#include "ui/components/PaletteFollower.h"
#include "ui/components/TitledMessageBox.h"
#include "ui/components/InitialFocusSink.h"
#include "ui/components/LabeledField.h"
#include "ui/components/LayoutTabOrder.h"
#include "ui/components/NameRule.h"
#include "ui/components/MacTextField.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolIcon.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/profiles/ProfileEditorVariableRow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

ProfileEditorView::ProfileEditorView(const ProfileEditorMode &mode, ProfilesController &controller, QWidget *parent)
    : QDialog(parent),
      m_mode(mode),
      m_model(mode)
{
    setWindowTitle(mode.isEdit() ? QStringLiteral("Edit Profile") : QStringLiteral("Add Profile"));
    setWindowModality(Qt::WindowModal);
    setMinimumSize(580, 500);
    resize(620, 560);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new InitialFocusSink(this));
    auto *title = new StyledLabel(windowTitle(), TextStyle::headline, this);
    title->setAlignment(Qt::AlignCenter);
    title->setContentsMargins(0, 12, 0, 8);
    layout->addWidget(title);

    auto *form = new QWidget;
    auto *formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(20, 8, 20, 20);
    formLayout->setSpacing(18);
    formLayout->addWidget(makeProfileSection());
    formLayout->addWidget(makeProtectionSection());
    formLayout->addWidget(makeVariablesSection());
    formLayout->addStretch(1);
    auto *scroll = new QScrollArea(this);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(form);
    layout->addWidget(scroll, 1);
    layout->addWidget(makeButtonRow());

    rebuildVariableRows();
    refreshValidation();

    // The lock ends an edit of a profile that was protected when the sheet
    // opened; the draft's own toggle does not count.
    if (mode.isEdit() && mode.profile.isProtected) {
        connect(&controller, &ProfilesController::protectedProfilesDidLock, this, [this] { reject(); });
    }
}

QLabel *ProfileEditorView::sectionHeader(const QString &text)
{
    return new StyledLabel(text, TextStyle::headline);
}

QLabel *ProfileEditorView::footerText(const QString &text)
{
    auto *label = new StyledLabel(text, TextStyle::footnote, QFont::Normal, ThemeColor::secondary());
    label->setWordWrap(true);
    return label;
}

QWidget *ProfileEditorView::makeProfileSection()
{
    auto *section = new QWidget;
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(sectionHeader(QStringLiteral("Profile")));
    m_name = new MacTextField(QStringLiteral("Profile name"), MacTextField::Style::rounded, false, false, section);
    m_name->setObjectName(QStringLiteral("nameField"));
    m_name->setAccessibleName(QStringLiteral("Name"));
    m_name->setFixedHeight(24);
    m_name->setText(m_model.draft.name);
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_model.draft.name = text;
        refreshValidation();
    });
    layout->addWidget(new LabeledField(QStringLiteral("Name"), 130, m_name, section));
    m_nameMessage = new StyledLabel(NameRule::controlCharacterMessage(), TextStyle::footnote, QFont::Normal,
                                    Palette::Color::red, section);
    m_nameMessage->setObjectName(QStringLiteral("nameMessage"));
    m_nameMessage->setWordWrap(true);
    m_nameMessage->setContentsMargins(130 + 12, 0, 0, 0);
    layout->addWidget(m_nameMessage);
    return section;
}

QWidget *ProfileEditorView::makeProtectionSection()
{
    auto *section = new QWidget;
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_protected = new QCheckBox(QStringLiteral("Protected Profile"), section);
    m_protected->setObjectName(QStringLiteral("protectedToggle"));
    m_protected->setChecked(m_model.draft.isProtected);
    connect(m_protected, &QCheckBox::toggled, this, [this](bool on) { m_model.draft.isProtected = on; });
    layout->addWidget(m_protected);
    layout->addWidget(footerText(QStringLiteral("Requires your account password before variables can be viewed, "
                                                "edited, or used to launch services. Variable data is encrypted on "
                                                "disk.")));
    return section;
}

QWidget *ProfileEditorView::makeVariablesSection()
{
    auto *section = new QWidget;
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(sectionHeader(QStringLiteral("Variables")));
    m_noVariables = new StyledLabel(QStringLiteral("No variables yet. Use “Add Variable” below."), TextStyle::callout,
                                    QFont::Normal, ThemeColor::secondary(), section);
    layout->addWidget(m_noVariables);
    m_rows = new QWidget(section);
    m_rowsLayout = new QVBoxLayout(m_rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    layout->addWidget(m_rows);
    auto *add = new QPushButton(QStringLiteral("Add Variable"), section);
    add->setObjectName(QStringLiteral("addVariableButton"));
    setButtonSymbol(add, QStringLiteral("plus"), palette().color(QPalette::ButtonText), 14);
    connect(add, &QPushButton::clicked, this, [this] {
        m_model.addVariable();
        rebuildVariableRows();
        refreshValidation();
        // Typing goes on in the new row.
        if (auto *row =
                qobject_cast<ProfileEditorVariableRow *>(m_rowsLayout->itemAt(m_rowsLayout->count() - 1)->widget()))
            row->keyField()->setFocus(Qt::TabFocusReason);
    });
    layout->addWidget(add, 0, Qt::AlignLeft);
    layout->addWidget(footerText(QStringLiteral("Secrets are stored in the keyring, not in profile files on disk.")));
    m_invalidKeys = new StyledLabel(QString(), TextStyle::footnote, QFont::Normal, Palette::Color::red, section);
    m_invalidKeys->setObjectName(QStringLiteral("invalidKeys"));
    m_invalidKeys->setWordWrap(true);
    layout->addWidget(m_invalidKeys);
    return section;
}

QWidget *ProfileEditorView::makeButtonRow()
{
    // Made inside the dialog: only then does Save become its default.
    auto *bar = new QWidget(this);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(20, 10, 20, 14);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), bar);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(cancel);
    if (m_mode.isEdit()) {
        auto *remove = new QPushButton(QStringLiteral("Delete"), bar);
        remove->setObjectName(QStringLiteral("deleteButton"));
        followPalette(remove, [remove] {
            setEnabledColor(remove, QPalette::ButtonText, legibleButtonText(remove, Palette::red()));
        });
        connect(remove, &QPushButton::clicked, this, &ProfileEditorView::requestProfileDeletion);
        layout->addWidget(remove);
    }
    layout->addStretch(1);
    m_save = new ProminentButton(QStringLiteral("Save"), Palette::Color::blue, bar);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->setDefault(true);
    connect(m_save, &QPushButton::clicked, this, &ProfileEditorView::save);
    layout->addWidget(m_save);
    return bar;
}

void ProfileEditorView::rebuildVariableRows()
{
    while (QLayoutItem *item = m_rowsLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const EnvironmentVariable &variable : m_model.draft.variables) {
        auto *row = new ProfileEditorVariableRow(variable, m_rows);
        connect(row, &ProfileEditorVariableRow::variableEdited, this, &ProfileEditorView::updateVariable);
        connect(row, &ProfileEditorVariableRow::deleteRequested, this,
                qOverload<const QUuid &>(&ProfileEditorView::requestVariableDeletion));
        connect(row, &ProfileEditorVariableRow::deleteGestureMade, this, [this, id = variable.id] {
            const auto &variables = m_model.draft.variables;
            const auto found = std::find_if(variables.cbegin(), variables.cend(),
                                            [&](const EnvironmentVariable &candidate) { return candidate.id == id; });
            if (found != variables.cend())
                requestVariableDeletion(QList<int> {int(found - variables.cbegin())});
        });
        m_rowsLayout->addWidget(row);
    }
    m_noVariables->setVisible(m_model.draft.variables.isEmpty());
    // New rows would otherwise come after the buttons in Tab order.
    if (layout())
        setTabOrderFollowingLayout(layout());
}

void ProfileEditorView::updateVariable(const EnvironmentVariable &variable)
{
    for (EnvironmentVariable &existing : m_model.draft.variables) {
        if (existing.id == variable.id)
            existing = variable;
    }
    refreshValidation();
}

void ProfileEditorView::refreshValidation()
{
    const QStringList invalid = m_model.invalidKeys();
    m_invalidKeys->setText(QStringLiteral("Invalid keys: ") + invalid.join(QStringLiteral(", ")));
    m_invalidKeys->setVisible(!invalid.isEmpty());
    m_nameMessage->setVisible(NameRule::hasControlCharacters(m_model.draft.name));
    m_save->setEnabled(m_model.canSave() && !m_isSaving);
}

void ProfileEditorView::save()
{
    if (!m_model.canSave() || m_isSaving)
        return;
    // The sheet stays open with the draft until the save has an answer: a
    // cancelled password prompt or a failed write must not lose what was typed.
    m_isSaving = true;
    refreshValidation();
    Q_EMIT saveRequested(m_model.normalizedDraft());
}

void ProfileEditorView::saveFinished(bool saved)
{
    if (!m_isSaving)
        return;
    m_isSaving = false;
    if (saved)
        accept();
    else
        refreshValidation();
}

TitledMessageBox *ProfileEditorView::makeConfirmation(const QString &title, const QString &message)
{
    if (m_confirmation)
        m_confirmation->deleteLater();
    auto *box = new TitledMessageBox(QMessageBox::Warning, title, message, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_confirmation = box;
    return box;
}

void ProfileEditorView::requestVariableDeletion(const QUuid &variableId)
{
    m_model.confirmDeleteOffsets.reset();
    m_model.confirmDeleteVariableID = variableId;
    showVariableDeletionConfirmation();
}

void ProfileEditorView::requestVariableDeletion(const QList<int> &offsets)
{
    m_model.confirmDeleteVariableID.reset();
    m_model.confirmDeleteOffsets = offsets;
    showVariableDeletionConfirmation();
}

void ProfileEditorView::showVariableDeletionConfirmation()
{
    TitledMessageBox *box = makeConfirmation(QStringLiteral("Delete Variable?"), m_model.variableDeletionMessage());
    QPushButton *remove = box->addDestructiveButton(QStringLiteral("Delete"));
    box->addCancelButton();
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        if (box->clickedButton() == remove) {
            m_model.confirmVariableDeletion();
            rebuildVariableRows();
            refreshValidation();
        } else {
            m_model.cancelVariableDeletion();
        }
    });
    box->open();
}

void ProfileEditorView::requestProfileDeletion()
{
    if (!m_mode.isEdit())
        return;
    TitledMessageBox *box = makeConfirmation(QStringLiteral("Delete Profile?"), m_model.profileDeletionMessage());
    QPushButton *remove = box->addDestructiveButton(QStringLiteral("Delete"));
    box->addCancelButton();
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        if (box->clickedButton() != remove)
            return;
        Q_EMIT deleteRequested();
        accept();
        // The profile is gone; a window manager may leave no window active.
        if (QWidget *owner = parentWidget())
            owner->window()->activateWindow();
    });
    box->open();
}

void ProfileEditorView::done(int result)
{
    if (m_confirmation) {
        QMessageBox *box = m_confirmation;
        m_confirmation = nullptr;
        box->disconnect(this);
        box->close();
    }
    QDialog::done(result);
}
