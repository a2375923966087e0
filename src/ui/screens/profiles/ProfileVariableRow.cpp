#include "ui/screens/profiles/ProfileVariableRow.h"

#include "ui/screens/ElidedLabel.h"
#include "ui/screens/ScreenStyle.h"

#include <QHBoxLayout>

using namespace ScreenStyle;

namespace {
const QString emptyMark = QStringLiteral("—");
}

ProfileVariableRow::ProfileVariableRow(const EnvironmentVariable &variable, QWidget *parent)
    : QWidget(parent), m_key(new ElidedLabel(Qt::ElideMiddle, this)), m_value(new ElidedLabel(Qt::ElideRight, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(12);
    m_key->setFont(monospaced(TextStyle::body, QFont::Medium));
    m_key->setFullText(keyText(variable));
    m_key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_key->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_value->setFont(monospaced(TextStyle::body));
    m_value->setFullText(valueText(variable));
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_value->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    // A mask is no text worth selecting; a plain value is.
    if (!variable.isSecret)
        m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_key, 1);
    layout->addSpacing(12);
    layout->addWidget(m_value, 1);
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
