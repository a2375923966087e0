#include "ui/components/DividedList.h"

#include "ui/components/ThemeColor.h"

#include <QPainter>
#include <QVBoxLayout>

namespace {

class InsetDivider final : public QWidget {
public:
    InsetDivider(int indent, QWidget *parent)
        : QWidget(parent),
          m_indent(indent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect().adjusted(m_indent, 0, 0, 0), ThemeColor::separator().resolve(this));
    }

private:
    int m_indent;
};

} // namespace

DividedList::DividedList(int dividerIndent, const QString &dividerName, QWidget *parent)
    : QWidget(parent),
      m_layout(new QVBoxLayout(this)),
      m_indent(dividerIndent),
      m_dividerName(dividerName)
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    // Room the rows do not need stays below the last one.
    m_layout->addStretch(1);
}

void DividedList::addRow(QWidget *row)
{
    if (m_rows > 0) {
        auto *divider = new InsetDivider(m_indent, this);
        divider->setObjectName(m_dividerName);
        m_layout->insertWidget(m_layout->count() - 1, divider);
    }
    row->setParent(this);
    m_layout->insertWidget(m_layout->count() - 1, row);
    ++m_rows;
}
