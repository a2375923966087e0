#pragma once

#include "platform/SensitiveBytes.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <QDialog>

class MacSecureField;
class QPushButton;

// The sudo password sheet. The password lives only in its field: it is taken
// out into wiping memory and the field cleared before it is handed to
// `passwordSubmitted`, exactly as typed (not trimmed; a password of spaces counts).
class SudoPasswordPromptView final : public QDialog {
    Q_OBJECT
public:
    explicit SudoPasswordPromptView(SudoPasswordRequest request, QWidget *parent = nullptr);

    const SudoPasswordRequest &request() const { return m_request; }

Q_SIGNALS:
    void passwordSubmitted(SharedSensitiveBytes password);
    void runWithoutPasswordRequested();
    // Also on Escape and the window's close button.
    void cancelRequested();

protected:
    void reject() override;

private:
    void submit();

    SudoPasswordRequest m_request;
    MacSecureField *m_password = nullptr;
    QPushButton *m_launch = nullptr;
};
