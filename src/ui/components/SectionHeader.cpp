#include "ui/components/SectionHeader.h"

#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"

#include <QHBoxLayout>

SectionHeader::SectionHeader(const QString &title, const std::optional<QString> &systemImage, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    if (systemImage) {
        m_symbol = new SymbolView(*systemImage, symbolPixelSize(TextStyle::body), ThemeColor::secondary(), this);
        layout->addWidget(m_symbol);
    }
    m_title = new StyledLabel(title, TextStyle::title3, QFont::DemiBold, ThemeColor::primary(), this);
    layout->addWidget(m_title);
    layout->addStretch(1);
}
