#pragma once

#include "platform/SensitiveBytes.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <QWidget>

#include <optional>

class MacSecureField;
class QPushButton;
class StyledLabel;

// The panel's sudo prompt: the password for one launch, handed on by "Start"
// (or "Restart") or Return and cleared from the field before it goes, so one
// Return submits once.
class MenuSudoPasswordPromptView : public QWidget {
    Q_OBJECT
public:
    MenuSudoPasswordPromptView(const SudoPasswordRequest &request, const std::optional<QString> &errorMessage,
                               QWidget *parent = nullptr);

    void submit();

    MacSecureField *passwordField() const { return m_password; }
    QPushButton *confirmButton() const { return m_confirm; }
    QPushButton *cancelButton() const { return m_cancel; }
    StyledLabel *errorLabel() const { return m_error; }

Q_SIGNALS:
    void passwordSubmitted(SharedSensitiveBytes password);
    // Also on Escape.
    void cancelRequested();

private:
    MacSecureField *m_password;
    StyledLabel *m_error = nullptr;
    QPushButton *m_cancel;
    QPushButton *m_confirm;
};
