#include "ui/screens/profiles/ProfileEditorVariableRow.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/MacTextField.h"
#include "ui/components/Palette.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>

ProfileEditorVariableRow::ProfileEditorVariableRow(const EnvironmentVariable &variable, QWidget *parent)
    : QWidget(parent),
      m_variable(variable),
      m_key(new MacTextField(QStringLiteral("KEY"), MacTextField::Style::rounded, true, false, this)),
      m_value(new MacTextField(QStringLiteral("value"), MacTextField::Style::rounded, true, false, this)),
      m_secret(new QToolButton(this)),
      m_delete(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);

    m_key->setObjectName(QStringLiteral("variableKeyField"));
    m_key->setFixedSize(150, 24);
    m_key->setText(variable.key);
    m_key->setAccessibleName(QStringLiteral("Key"));
    connect(m_key, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_variable.key = text;
        Q_EMIT variableEdited(m_variable);
    });

    // One field edits the value; its echo mode is the swap between the plain
    // and the secure input, so the typed value stays as it is and a secret is
    // never drawn, copied or dragged out in clear.
    m_value->setObjectName(QStringLiteral("variableValueField"));
    m_value->setFixedHeight(24);
    m_value->setText(variable.value);
    m_value->setAccessibleName(QStringLiteral("Value"));
    connect(m_value, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_variable.value = text;
        Q_EMIT variableEdited(m_variable);
    });

    m_secret->setObjectName(QStringLiteral("secretToggle"));
    m_secret->setAutoRaise(true);
    m_secret->setFixedSize(26, 24);
    // Checkable, so a screen reader hears the state along with the name. The
    // checked state is the variable's, however it changes: a screen reader's
    // Toggle and setChecked() send no click.
    m_secret->setCheckable(true);
    connect(m_secret, &QToolButton::toggled, this, [this](bool checked) {
        if (checked == m_variable.isSecret)
            return;
        m_variable.isSecret = checked;
        showSecretState();
        Q_EMIT variableEdited(m_variable);
    });

    m_delete->setObjectName(QStringLiteral("deleteVariableButton"));
    m_delete->setAutoRaise(true);
    m_delete->setFixedSize(26, 24);
    setButtonSymbol(m_delete, QStringLiteral("trash"), Palette::red(), 16);
    m_delete->setToolTip(QStringLiteral("Delete this variable"));
    m_delete->setAccessibleName(QStringLiteral("Delete this variable"));
    connect(m_delete, &QToolButton::clicked, this, [this] { Q_EMIT deleteRequested(m_variable.id); });

    layout->addWidget(m_key);
    layout->addWidget(m_value, 1);
    layout->addWidget(m_secret);
    layout->addWidget(m_delete);
    for (QWidget *part : std::initializer_list<QWidget *> {m_key, m_value, m_secret, m_delete})
        part->installEventFilter(this);
    showSecretState();
}

bool ProfileEditorVariableRow::eventFilter(QObject *watched, QEvent *event)
{
    // Before the text fields, which would take Ctrl+Delete as "delete the next word".
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
            Q_EMIT deleteGestureMade();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ProfileEditorVariableRow::showSecretState()
{
    const bool secret = m_variable.isSecret;
    m_value->setEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
    setButtonSymbol(m_secret, secret ? QStringLiteral("lock.fill") : QStringLiteral("lock.open"),
                    secret ? ColorContrast::legibleVariant(Palette::orange(), ThemeColor::opaqueSurfaces(),
                                                           ColorContrast::markMinimum)
                           : secondaryTextColor(),
                    18);
    m_secret->setToolTip(secret
                             ? QStringLiteral("Secret — stored in the keyring, not in profile files. Click to store "
                                              "as plain text in the profile instead.")
                             : QStringLiteral("Click to make this value a secret. Secrets are stored in the keyring, "
                                              "not in profile files."));
    m_secret->setAccessibleName(secret ? QStringLiteral("Secret") : QStringLiteral("Plain"));
    m_secret->setChecked(secret);
}
