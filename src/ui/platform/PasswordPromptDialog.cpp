#include "ui/platform/PasswordPromptDialog.h"

#include "ui/platform/SecretFieldText.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int messageWidth = 360;
} // namespace

PasswordPromptDialog::PasswordPromptDialog(const QString &reasonText, QWidget *parent)
    : QDialog(parent),
      m_message(new QLabel(QStringLiteral("Velmora is trying to ") + reasonText + QStringLiteral("."), this)),
      m_password(new QLineEdit(this)),
      m_error(new QLabel(this)),
      m_buttons(new QDialogButtonBox(this))
{
    setWindowTitle(QStringLiteral("Velmora"));
    setModal(true);
    m_message->setWordWrap(true);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("Password"));
    m_password->setAccessibleName(QStringLiteral("Password"));
    m_error->setVisible(false);
    m_buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    QPushButton *unlock = m_buttons->addButton(QStringLiteral("Unlock"), QDialogButtonBox::AcceptRole);
    unlock->setDefault(true);

    // A wrapped message only gets its full height from a layout that sizes
    // the dialog by it; with a free size the reason text was cut off.
    m_message->setMinimumWidth(messageWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_message);
    layout->addWidget(m_password);
    layout->addWidget(m_error);
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Unlock does not close the dialog: the password is checked first.
    connect(m_buttons, &QDialogButtonBox::accepted, this, [this] { Q_EMIT answered(true); });
}

void PasswordPromptDialog::reject()
{
    QDialog::reject();
    Q_EMIT answered(false);
}

SensitiveBytes PasswordPromptDialog::takePassword()
{
    return SecretFieldText::take(*m_password);
}

void PasswordPromptDialog::setChecking(bool checking)
{
    m_password->setEnabled(!checking);
    m_buttons->setEnabled(!checking);
    if (!checking)
        m_password->setFocus();
}

void PasswordPromptDialog::showRejected()
{
    m_error->setText(QStringLiteral("That password is incorrect. Try again."));
    m_error->setVisible(true);
}
