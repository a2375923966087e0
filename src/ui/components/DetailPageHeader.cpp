#include "ui/components/DetailPageHeader.h"

#include "ui/components/NameRule.h"
#include "ui/components/StyledLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

DetailPageHeader::DetailPageHeader(const QString &title, int belowTitleSpacing, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(belowTitleSpacing);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    m_title = new StyledLabel(QString(), TextStyle::largeTitle, QFont::Bold, ThemeColor::primary(), this);
    m_title->setElideMode(Qt::ElideRight);
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTitle(title);
    titleRow->addWidget(m_title, 1);
    titleRow->addSpacing(8);
    m_actions = new QHBoxLayout;
    m_actions->setSpacing(8);
    titleRow->addLayout(m_actions);
    layout->addLayout(titleRow);

    m_below = new QVBoxLayout;
    m_below->setContentsMargins(0, 0, 0, 0);
    m_below->setSpacing(0);
    layout->addLayout(m_below);
}

void DetailPageHeader::setTitle(const QString &title)
{
    // A title is a name: one line, however it was stored.
    const QString shown = NameRule::oneLine(title);
    m_title->setText(shown);
    m_title->setAccessibleName(shown);
}

QString DetailPageHeader::title() const
{
    return m_title->text();
}
