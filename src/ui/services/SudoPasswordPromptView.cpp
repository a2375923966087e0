#include "ui/services/SudoPasswordPromptView.h"

#include "ui/services/ServicesFonts.h"
#include "ui/services/ServicesPalette.h"
#include "ui/services/ServicesSymbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

SudoPasswordPromptView::SudoPasswordPromptView(SudoPasswordRequest request, std::function<void(QString)> onSubmit,
                                               std::function<void()> onRunWithoutPassword,
                                               std::function<void()> onCancel, QWidget *parent)
    : QDialog(parent), m_request(std::move(request)), m_onSubmit(std::move(onSubmit)),
      m_onRunWithoutPassword(std::move(onRunWithoutPassword)), m_onCancel(std::move(onCancel))
{
    using ServicesFonts::Style;
    const bool restart = m_request.action == SudoLaunchAction::restart;
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Sudo Password"));
    setFixedWidth(420);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(ServicesSymbols::label(QStringLiteral("lock.shield.fill"), ServicesPalette::orange(), 16, this));
    auto *title = new QLabel(QStringLiteral("Sudo Password"), this);
    title->setFont(ServicesFonts::font(Style::headline));
    header->addWidget(title);
    header->addStretch(1);
    layout->addLayout(header);

    auto *message = new QLabel(QStringLiteral("Velmora will send this password only to sudo's password prompt for ")
                                   + m_request.serviceName + QStringLiteral(". It is not saved."),
                               this);
    message->setObjectName(QStringLiteral("sudoMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setFont(ServicesFonts::font(Style::callout));
    QPalette secondary = message->palette();
    QColor text = secondary.color(QPalette::WindowText);
    text.setAlphaF(0.6);
    secondary.setColor(QPalette::WindowText, text);
    message->setPalette(secondary);
    layout->addWidget(message);

    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("passwordField"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("Password"));
    m_password->setAccessibleName(QStringLiteral("Password"));
    layout->addWidget(m_password);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto *withoutPassword = new QPushButton(
        restart ? QStringLiteral("Restart Without Password") : QStringLiteral("Start Without Password"), this);
    withoutPassword->setObjectName(QStringLiteral("withoutPasswordButton"));
    withoutPassword->setAutoDefault(false);
    buttons->addWidget(withoutPassword);
    m_launch = new QPushButton(restart ? QStringLiteral("Restart") : QStringLiteral("Start"), this);
    m_launch->setObjectName(QStringLiteral("launchButton"));
    m_launch->setDefault(true);
    m_launch->setEnabled(false);
    buttons->addWidget(m_launch);
    layout->addLayout(buttons);

    connect(m_password, &QLineEdit::textChanged, this,
            [this](const QString &password) { m_launch->setEnabled(!password.isEmpty()); });
    // Return submits, or does nothing while the field is empty; it never
    // reaches "Start Without Password". The submit clears the field, so the
    // default button that sees the same Return afterwards finds nothing to send.
    connect(m_password, &QLineEdit::returnPressed, this, &SudoPasswordPromptView::submit);
    connect(m_launch, &QPushButton::clicked, this, &SudoPasswordPromptView::submit);
    connect(withoutPassword, &QPushButton::clicked, this, [this] {
        m_password->clear();
        if (m_onRunWithoutPassword)
            m_onRunWithoutPassword();
    });
    connect(cancel, &QPushButton::clicked, this, &SudoPasswordPromptView::reject);
}

void SudoPasswordPromptView::reject()
{
    m_password->clear();
    if (m_onCancel)
        m_onCancel();
}

void SudoPasswordPromptView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    QTimer::singleShot(0, m_password, [field = m_password] { field->setFocus(Qt::OtherFocusReason); });
}

void SudoPasswordPromptView::submit()
{
    if (m_password->text().isEmpty())
        return;
    const QString password = m_password->text();
    m_password->clear();
    if (m_onSubmit)
        m_onSubmit(password);
}
