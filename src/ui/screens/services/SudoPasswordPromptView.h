#pragma once

#include "platform/SensitiveBytes.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <QDialog>

#include <functional>

class MacSecureField;
class QPushButton;

// The sudo password sheet. The password lives only in its field: it is taken
// out into wiping memory and the field cleared before it is handed to
// `onSubmit`, exactly as typed (not trimmed; a password of spaces counts).
class SudoPasswordPromptView final : public QDialog {
    Q_OBJECT
public:
    SudoPasswordPromptView(SudoPasswordRequest request, std::function<void(SharedSensitiveBytes)> onSubmit,
                           std::function<void()> onRunWithoutPassword, std::function<void()> onCancel,
                           QWidget *parent = nullptr);

    const SudoPasswordRequest &request() const { return m_request; }

protected:
    void reject() override;

private:
    void submit();

    SudoPasswordRequest m_request;
    std::function<void(SharedSensitiveBytes)> m_onSubmit;
    std::function<void()> m_onRunWithoutPassword;
    std::function<void()> m_onCancel;
    MacSecureField *m_password = nullptr;
    QPushButton *m_launch = nullptr;
};
