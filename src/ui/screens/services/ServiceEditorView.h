#pragma once

#include "records/ManagedService.h"
#include "ui/screens/services/ServiceEditorMode.h"

#include "ui/components/TitledMessageBox.h"
#include <QDialog>

#include <QMessageBox>
#include <QPointer>

class MacMultilineTextField;
class MacTextField;
class StyledLabel;
class QComboBox;
class QPushButton;
class ServicesController;

// The sheet that creates or edits one service. It works on a copy (`draft`):
// "Save" hands the copy on with saveRequested and closes the sheet once
// saveFinished says it was saved; a confirmed "Delete" emits deleteRequested
// and "Cancel" drops the copy, each closing the sheet. Only a picked path's
// bookmark is written at once.
class ServiceEditorView final : public QDialog {
    Q_OBJECT
public:
    // How long the launch option must stay on "Terminal" before it is questioned.
    static constexpr int terminalConfirmationDelayMs = 200;

    // The controller must outlive the sheet: it lists the profiles and keeps
    // the picked paths (when it has a bookmark store).
    ServiceEditorView(ServiceEditorMode mode, ManagedService draft, ServicesController &controller,
                      QWidget *parent = nullptr);

    const ServiceEditorMode &mode() const { return m_mode; }
    const ManagedService &draft() const { return m_draft; }
    bool canSave() const;
    // Puts `path` into the command as "Insert Path…" does with a picked one.
    void insertPickedPath(const QString &path);

    // The open "Delete Service?" or "Use Terminal?" question, if any.
    TitledMessageBox *openQuestion() const { return m_question; }

    // The answer to saveRequested: a saved draft closes the sheet, a failed
    // save leaves it open with the draft.
    void saveFinished(bool saved);

Q_SIGNALS:
    // "Save" with a valid draft, and a confirmed "Delete" (the sheet then closes).
    void saveRequested(const ManagedService &service);
    void deleteRequested();

private:
    QWidget *makeServiceSection();
    QWidget *makeCommandSection();
    QWidget *makeEnvironmentSection();
    QWidget *makeLaunchSection();
    QWidget *makeButtons();
    void fillProfilePicker();
    void setOpenInTerminal(bool openInTerminal);
    void scheduleTerminalConfirmation();
    void confirmTerminalLaunch();
    void confirmDelete();
    void insertPath();
    void save();
    void updateSaveEnabled();
    void updateLaunchFooter();

    ServiceEditorMode m_mode;
    ManagedService m_draft;
    ServicesController &m_controller;
    bool m_isConfirmingTerminalLaunch = false;
    bool m_isSaving = false;
    bool m_refillingProfiles = false;

    MacTextField *m_name = nullptr;
    StyledLabel *m_nameMessage = nullptr;
    MacMultilineTextField *m_command = nullptr;
    QComboBox *m_profilePicker = nullptr;
    QComboBox *m_launchPicker = nullptr;
    StyledLabel *m_launchFooter = nullptr;
    QPushButton *m_save = nullptr;
    QPointer<TitledMessageBox> m_question;
};
