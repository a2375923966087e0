#include "ui/components/LabeledField.h"

#include "ui/components/StyledLabel.h"

#include <QHBoxLayout>

LabeledField::LabeledField(const QString &label, int labelWidth, QWidget *content, QWidget *parent)
    : QWidget(parent),
      m_content(content)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    m_label = new StyledLabel(label, TextStyle::body, this);
    m_label->setFixedWidth(labelWidth);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(m_label, 0, Qt::AlignVCenter);
    if (content) {
        content->setSizePolicy(QSizePolicy::Expanding, content->sizePolicy().verticalPolicy());
        layout->addWidget(content, 1, Qt::AlignVCenter);
        m_label->setBuddy(content);
    }
}
