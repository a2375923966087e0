#pragma once

#include "platform/SensitiveBytes.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

// The account-password prompt: "Velmora is trying to <reason>." with a password
// field, Cancel and Unlock. It only collects the password; checking it is the
// caller's, which reports a wrong one back with `showRejected`.
class PasswordPromptDialog : public QDialog {
    Q_OBJECT
public:
    explicit PasswordPromptDialog(const QString &reasonText, QWidget *parent = nullptr);

    // The typed password, removed from the field.
    SensitiveBytes takePassword();
    void setChecking(bool checking);
    void showRejected();
    void reject() override;

Q_SIGNALS:
    // true when a password was submitted, false when the prompt was dismissed.
    void answered(bool submitted);

private:
    QLabel *m_message;
    QLineEdit *m_password;
    QLabel *m_error;
    QDialogButtonBox *m_buttons;
};
