#include "ui/screens/services/SudoPasswordPromptView.h"

#include "ui/platform/SecretFieldText.h"

#include "ui/components/MacSecureField.h"
#include "ui/components/NameRule.h"
#include "ui/components/Palette.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SudoPasswordPromptView::SudoPasswordPromptView(SudoPasswordRequest request, QWidget *parent)
    : QDialog(parent),
      m_request(std::move(request))
{
    const bool restart = m_request.action == SudoLaunchAction::restart;
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Sudo Password"));
    setFixedWidth(420);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new SymbolView(QStringLiteral("lock.shield.fill"), symbolPixelSize(TextStyle::body),
                                     Palette::Color::orange, this));
    auto *title = new StyledLabel(QStringLiteral("Sudo Password"), TextStyle::headline, this);
    header->addWidget(title);
    header->addStretch(1);
    layout->addLayout(header);

    auto *message =
        new StyledLabel(QStringLiteral("Velmora will send this password only to sudo's password prompt for ")
                            + NameRule::oneLine(m_request.serviceName) + QStringLiteral(". It is not saved."),
                        TextStyle::callout, QFont::Normal, ThemeColor::secondary(), this);
    message->setObjectName(QStringLiteral("sudoMessage"));
    message->setWordWrap(true);
    layout->addWidget(message);

    m_password = new MacSecureField(QStringLiteral("Password"), false, true, this);
    m_password->setObjectName(QStringLiteral("passwordField"));
    m_password->setAccessibleName(QStringLiteral("Password"));
    layout->addWidget(m_password);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto *withoutPassword = new QPushButton(
        restart ? QStringLiteral("Restart Without Password") : QStringLiteral("Start Without Password"), this);
    withoutPassword->setObjectName(QStringLiteral("withoutPasswordButton"));
    buttons->addWidget(withoutPassword);
    m_launch =
        new ProminentButton(restart ? QStringLiteral("Restart") : QStringLiteral("Start"), Palette::Color::blue, this);
    m_launch->setObjectName(QStringLiteral("launchButton"));
    m_launch->setDefault(true);
    m_launch->setEnabled(false);
    buttons->addWidget(m_launch);
    layout->addLayout(buttons);

    connect(m_password, &QLineEdit::textChanged, this,
            [this](const QString &password) { m_launch->setEnabled(!password.isEmpty()); });
    // Return in the field submits, or does nothing while it is empty; it goes
    // no further, so it never reaches "Start Without Password".
    connect(m_password, &MacSecureField::committed, this, &SudoPasswordPromptView::submit);
    connect(m_launch, &QPushButton::clicked, this, &SudoPasswordPromptView::submit);
    connect(withoutPassword, &QPushButton::clicked, this, [this] {
        SecretFieldText::take(*m_password);
        Q_EMIT runWithoutPasswordRequested();
    });
    connect(cancel, &QPushButton::clicked, this, &SudoPasswordPromptView::reject);
}

void SudoPasswordPromptView::reject()
{
    SecretFieldText::take(*m_password);
    Q_EMIT cancelRequested();
}

void SudoPasswordPromptView::submit()
{
    if (m_password->text().isEmpty())
        return;
    Q_EMIT passwordSubmitted(std::make_shared<const SensitiveBytes>(SecretFieldText::take(*m_password)));
}
