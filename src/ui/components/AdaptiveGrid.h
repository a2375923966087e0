#pragma once

#include <QList>
#include <QWidget>

// Cards side by side in as many equal columns of at least `minimumColumnWidth`
// as fit (at least one), filled in reading order; it takes the height its
// rows need for the width it gets. Widths and gaps are those of the cards as
// drawn: the room each SurfaceCard keeps for its shadow may overlap.
//     auto *grid = new AdaptiveGrid(140, 12, page);
//     grid->addCard(new MetricCard(…));
class AdaptiveGrid : public QWidget {
    Q_OBJECT
public:
    AdaptiveGrid(int minimumColumnWidth, int spacing, QWidget *parent = nullptr);

    // The grid takes the card over as its child.
    void addCard(QWidget *card);
    int columnCount(int visibleWidth) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int cardHeight() const;

    int m_minimumColumnWidth;
    int m_spacing;
    QList<QWidget *> m_cards;
};
