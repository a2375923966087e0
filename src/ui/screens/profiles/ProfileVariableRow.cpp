#include "ui/screens/profiles/ProfileVariableRow.h"

#include "ui/components/StyledLabel.h"

#include <QEvent>
#include <QHBoxLayout>

namespace {
const QString emptyMark = QStringLiteral("—");
}

ProfileVariableRow::ProfileVariableRow(const EnvironmentVariable &variable, QWidget *parent)
    : QWidget(parent),
      m_key(new StyledLabel(keyText(variable), TextStyle::body, QFont::Medium, ThemeColor::primary(), this)),
      m_value(new StyledLabel(valueText(variable), TextStyle::body, QFont::Normal, ThemeColor::secondary(), this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(0);
    m_key->setObjectName(QStringLiteral("variableKey"));
    m_key->setMonospaced(true);
    m_key->setElideMode(Qt::ElideMiddle);
    m_key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_value->setObjectName(QStringLiteral("variableValue"));
    m_value->setMonospaced(true);
    m_value->setElideMode(Qt::ElideRight);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Selecting a secret's row copies only the mask: the value never reaches the label.
    // Selectable from the first press on (see eventFilter).
    m_value->installEventFilter(this);
    layout->addWidget(m_key, 1);
    layout->addSpacing(12);
    layout->addWidget(m_value, 1);
}

bool ProfileVariableRow::eventFilter(QObject *watched, QEvent *event)
{
    // A selectable label keeps its text in a document of Qt's own, which
    // frees it unwiped: a value that was only shown must leave no such copy
    // behind once a lock drops the row.
    if (watched == m_value && event->type() == QEvent::MouseButtonPress)
        m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return QWidget::eventFilter(watched, event);
}

QString ProfileVariableRow::keyText(const EnvironmentVariable &variable)
{
    return variable.key.isEmpty() ? emptyMark : variable.key;
}

QString ProfileVariableRow::valueText(const EnvironmentVariable &variable)
{
    if (variable.isSecret)
        return secretMask;
    return variable.value.isEmpty() ? emptyMark : variable.value;
}
