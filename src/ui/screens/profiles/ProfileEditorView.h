#pragma once

#include "ui/components/TitledMessageBox.h"
#include "ui/screens/profiles/ProfileEditorDraft.h"
#include "ui/screens/profiles/ProfileEditorMode.h"

#include <QDialog>
#include <QPointer>

class ProfilesController;
class QCheckBox;
class QLabel;
class MacTextField;
class QPushButton;
class QVBoxLayout;

// The sheet that creates or edits a profile on a private draft and hands the
// result to the screen that opened it, staying open until the screen answers
// through saveFinished. An edit of a protected profile closes itself, unsaved,
// when protected data locks.
class ProfileEditorView final : public QDialog {
    Q_OBJECT
public:
    // The controller must outlive the sheet.
    ProfileEditorView(const ProfileEditorMode &mode, ProfilesController &controller, QWidget *parent = nullptr);

    const ProfileEditorDraft &model() const { return m_model; }

    // Asks to remove one variable, as the row's trash button does.
    void requestVariableDeletion(const QUuid &variableId);
    // Asks to remove the variables at these rows.
    void requestVariableDeletion(const QList<int> &offsets);
    void requestProfileDeletion();
    void save();
    // The screen's answer to the save handed on: closes when saved, else keeps
    // the draft and allows another try.
    void saveFinished(bool saved);
    bool isSaving() const { return m_isSaving; }

    // The confirmation shown right now, if any.
    TitledMessageBox *openConfirmation() const { return m_confirmation; }

Q_SIGNALS:
    // "Save" with a valid draft (normalized), and a confirmed "Delete"; the sheet then closes.
    void saveRequested(const EnvironmentProfile &profile);
    void deleteRequested();

protected:
    void done(int result) override;

private:
    QWidget *makeProfileSection();
    QWidget *makeProtectionSection();
    QWidget *makeVariablesSection();
    QWidget *makeButtonRow();
    QLabel *sectionHeader(const QString &text);
    QLabel *footerText(const QString &text);
    void rebuildVariableRows();
    void refreshValidation();
    void updateVariable(const EnvironmentVariable &variable);
    void showVariableDeletionConfirmation();
    TitledMessageBox *makeConfirmation(const QString &title, const QString &message);

    ProfileEditorMode m_mode;
    ProfileEditorDraft m_model;
    MacTextField *m_name = nullptr;
    QCheckBox *m_protected = nullptr;
    QLabel *m_noVariables = nullptr;
    QWidget *m_rows = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QLabel *m_invalidKeys = nullptr;
    QLabel *m_nameMessage = nullptr;
    QPushButton *m_save = nullptr;
    QPointer<TitledMessageBox> m_confirmation;
    bool m_isSaving = false;
};
