#include "ui/components/MasterDetailChrome.h"

#include "ui/components/ThemeColor.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {

class SidebarColumn : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), ThemeColor::sidebarBackground().resolve(this));
    }
};

void replaceIn(QWidget *column, QPointer<QWidget> &slot, QWidget *widget)
{
    if (slot == widget)
        return;
    delete slot.data();
    slot = widget;
    if (widget)
        column->layout()->addWidget(widget);
}

} // namespace

MasterDetailChrome::MasterDetailChrome(int sidebarWidth, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_sidebarColumn = new SidebarColumn(this);
    m_sidebarColumn->setFixedWidth(sidebarWidth);
    m_sidebarColumn->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *sidebarLayout = new QVBoxLayout(m_sidebarColumn);
    sidebarLayout->setContentsMargins(0, 0, 0, 0);
    sidebarLayout->setSpacing(0);
    layout->addWidget(m_sidebarColumn);

    m_detailColumn = new QWidget(this);
    // Ignored: the detail's own minimum does not widen the window; content
    // larger than the column is cut at its edge.
    m_detailColumn->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto *detailLayout = new QVBoxLayout(m_detailColumn);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    layout->addWidget(m_detailColumn, 1);
}

void MasterDetailChrome::setSidebar(QWidget *sidebar)
{
    replaceIn(m_sidebarColumn, m_sidebar, sidebar);
}

void MasterDetailChrome::setDetail(QWidget *detail)
{
    replaceIn(m_detailColumn, m_detail, detail);
}
