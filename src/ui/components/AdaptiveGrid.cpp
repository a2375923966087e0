#include "ui/components/AdaptiveGrid.h"

#include "ui/components/SurfaceCard.h"

#include <QResizeEvent>

#include <algorithm>

namespace {

constexpr int horizontalShadow = SurfaceCard::shadowMargin;
constexpr int verticalShadow = SurfaceCard::shadowMargin * 2;

} // namespace

AdaptiveGrid::AdaptiveGrid(int minimumColumnWidth, int spacing, QWidget *parent)
    : QWidget(parent),
      m_minimumColumnWidth(minimumColumnWidth),
      m_spacing(spacing)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void AdaptiveGrid::addCard(QWidget *card)
{
    card->setParent(this);
    m_cards.append(card);
}

int AdaptiveGrid::columnCount(int visibleWidth) const
{
    return std::max(1, (visibleWidth + m_spacing) / (m_minimumColumnWidth + m_spacing));
}

int AdaptiveGrid::heightForWidth(int width) const
{
    if (m_cards.isEmpty())
        return 0;
    const int columns = columnCount(width - 2 * horizontalShadow);
    const int rows = int((m_cards.size() + columns - 1) / columns);
    const int visibleHeight = cardHeight() - verticalShadow;
    return rows * visibleHeight + (rows - 1) * m_spacing + verticalShadow;
}

QSize AdaptiveGrid::sizeHint() const
{
    return {4 * m_minimumColumnWidth + 3 * m_spacing, heightForWidth(660)};
}

// One row: the real height comes from heightForWidth. Four rows here made a
// scroll area take the narrowest layout's height as the page's least height
// and scroll a page that fits.
QSize AdaptiveGrid::minimumSizeHint() const
{
    return {1, heightForWidth(int(m_cards.size()) * (m_minimumColumnWidth + m_spacing) + 2 * horizontalShadow)};
}

void AdaptiveGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int visibleWidth = std::max(1, event->size().width() - 2 * horizontalShadow);
    const int columns = columnCount(visibleWidth);
    const int columnWidth = std::max(1, (visibleWidth - (columns - 1) * m_spacing) / columns);
    const int visibleHeight = cardHeight() - verticalShadow;
    for (int index = 0; index < m_cards.size(); ++index) {
        const int column = index % columns;
        const int row = index / columns;
        m_cards[index]->setGeometry(column * (columnWidth + m_spacing), row * (visibleHeight + m_spacing),
                                    columnWidth + 2 * horizontalShadow, cardHeight());
    }
    const int wanted = heightForWidth(event->size().width());
    if (height() != wanted)
        setFixedHeight(wanted);
}

int AdaptiveGrid::cardHeight() const
{
    int height = 0;
    for (QWidget *card : m_cards)
        height = std::max(height, card->sizeHint().height());
    return height;
}
