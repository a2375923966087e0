#pragma once

#include <QWidget>

class QVBoxLayout;

// The rounded card that frames a group of content: radius 14, the secondary
// window background, a soft shadow and a faint border. A screen fills it
// through its layout, which is padded by `padding` on every edge:
//     auto *card = new SurfaceCard(16);
//     card->contentLayout()->addWidget(new StyledLabel(...));
class SurfaceCard : public QWidget {
    Q_OBJECT
public:
    explicit SurfaceCard(int padding = 16, QWidget *parent = nullptr);

    QVBoxLayout *contentLayout() const { return m_layout; }
    int padding() const { return m_padding; }
    // The colour at the card's centre, as painted (for tests of the theme).
    QColor fillColor() const;

    // Room kept around the card for its shadow.
    static constexpr int shadowMargin = 8;
    static constexpr qreal cornerRadius = 14;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_padding;
    QVBoxLayout *m_layout;
};

// Paints the card look into `rect` (the card itself, without the shadow room).
void paintSurfaceCard(QPainter &painter, const QRectF &rect, qreal radius);
