#include "ui/components/LabeledValueText.h"

#include "ui/components/StyledLabel.h"

#include <QHBoxLayout>

LabeledValueText::LabeledValueText(const QString &caption, const QString &value, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_caption = new StyledLabel(caption, TextStyle::caption, QFont::Normal, ThemeColor::tertiary(), this);
    m_value = new StyledLabel(value, TextStyle::caption, QFont::Normal, ThemeColor::primary(), this);
    layout->addWidget(m_caption);
    layout->addWidget(m_value);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LabeledValueText::setValue(const QString &value)
{
    if (m_value->text() != value)
        m_value->setText(value);
}

void LabeledValueText::setCaption(const QString &caption)
{
    m_caption->setText(caption);
}

QString LabeledValueText::caption() const
{
    return m_caption->text();
}

QString LabeledValueText::value() const
{
    return m_value->text();
}

void LabeledValueText::setTextFont(const QFont &font)
{
    m_caption->setFont(font);
    m_value->setFont(font);
}

LabeledValueText *labeledValueText(const QString &caption, const QString &value, QWidget *parent)
{
    return new LabeledValueText(caption, value, parent);
}
