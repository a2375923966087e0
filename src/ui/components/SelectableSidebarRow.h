#pragma once

#include <QAbstractButton>
#include <QColor>

class QHBoxLayout;
class QVariantAnimation;

// One clickable row of a sidebar list. The screen puts the row's content into
// contentLayout() (padded 10 across and 7 down) and sets isSelected; the row
// draws hover, pressed and selected fills in Palette.slate and gives its
// content the slate foreground while selected. Its accessible value reads
// "Selected" while selected:
//     auto *row = new SelectableSidebarRow;
//     row->contentLayout()->addWidget(new StyledLabel(service.name));
//     connect(row, &QAbstractButton::clicked, this, [=] { controller->select(id); });
class SelectableSidebarRow : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool isSelected READ isSelected WRITE setSelected)
public:
    explicit SelectableSidebarRow(QWidget *parent = nullptr);

    QHBoxLayout *contentLayout() const { return m_content; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    bool isHovered() const { return m_hovered; }

    // The fill rule: pressed 0.18, selected 0.12, hovered 0.06 of slate, else
    // none (alpha 0). The opacity of the whole row: 0.82 pressed, else 1.
    static QColor fillFor(bool pressed, bool selected, bool hovered, const QColor &slate);
    // The fill as drawn right now (the end value once animations settle).
    QColor targetFill() const;
    QColor currentFill() const { return m_fill; }
    qreal drawnOpacity() const { return isDown() ? 0.82 : 1.0; }
    QString accessibleValue() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh(int animationMs);
    void applyForeground();

    QHBoxLayout *m_content;
    bool m_selected = false;
    bool m_hovered = false;
    bool m_applyingForeground = false;
    QColor m_fill;
    QVariantAnimation *m_fillAnimation;
};
