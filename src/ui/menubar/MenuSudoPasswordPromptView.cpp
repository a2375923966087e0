#include "ui/menubar/MenuSudoPasswordPromptView.h"

#include "ui/platform/SecretFieldText.h"

#include "ui/components/MacSecureField.h"
#include "ui/components/NameRule.h"
#include "ui/components/Palette.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/menubar/MenuButtonTint.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

MenuSudoPasswordPromptView::MenuSudoPasswordPromptView(const SudoPasswordRequest &request,
                                                       const std::optional<QString> &errorMessage, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 12);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new SymbolView(QStringLiteral("lock.shield.fill"), symbolPixelSize(TextStyle::callout),
                                     Palette::Color::orange, this));
    header->addWidget(new StyledLabel(QStringLiteral("Sudo Password"), TextStyle::callout, QFont::DemiBold,
                                      ThemeColor::primary(), this));
    header->addStretch(1);
    layout->addLayout(header);

    auto *description =
        new StyledLabel(QStringLiteral("Enter the password for ") + NameRule::oneLine(request.serviceName)
                            + QStringLiteral(". Velmora sends it only to sudo and does not save it."),
                        TextStyle::caption, QFont::Normal, ThemeColor::secondary(), this);
    description->setWordWrap(true);
    layout->addWidget(description);

    m_password = new MacSecureField(QStringLiteral("Password"), true, true, this);
    m_password->setFixedHeight(24);
    m_password->setAccessibleName(QStringLiteral("Sudo Password"));
    layout->addWidget(m_password);

    if (errorMessage) {
        m_error = new StyledLabel(*errorMessage, TextStyle::caption, QFont::Normal, Palette::Color::red, this);
        m_error->setWordWrap(true);
        layout->addWidget(m_error);
    }

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    m_confirm = new QPushButton(
        request.action == SudoLaunchAction::restart ? QStringLiteral("Restart") : QStringLiteral("Start"), this);
    tintProminent(m_confirm, Palette::Color::slate);
    m_confirm->setEnabled(false);
    buttons->addWidget(m_confirm);
    layout->addLayout(buttons);

    connect(m_password, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_confirm->setEnabled(!text.isEmpty()); });
    connect(m_password, &MacSecureField::committed, this, &MenuSudoPasswordPromptView::submit);
    connect(m_confirm, &QPushButton::clicked, this, &MenuSudoPasswordPromptView::submit);
    connect(m_cancel, &QPushButton::clicked, this, &MenuSudoPasswordPromptView::cancelRequested);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, [this] { m_cancel->click(); });
    escape->setContext(Qt::WindowShortcut);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *confirm = new QShortcut(QKeySequence(key), this, [this] { submit(); });
        confirm->setContext(Qt::WindowShortcut);
    }
}

void MenuSudoPasswordPromptView::submit()
{
    if (m_password->text().isEmpty())
        return;
    // Emptied before it is handed on: a second trigger of the same Return finds nothing.
    Q_EMIT passwordSubmitted(std::make_shared<const SensitiveBytes>(SecretFieldText::take(*m_password)));
}
