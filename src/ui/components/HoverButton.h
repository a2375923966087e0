#pragma once

#include <QAbstractButton>
#include <QMargins>
#include <QPalette>

// A flat button whose content is the widgets in its layout (a whole list row,
// say). It draws nothing but a tint while hovered or pressed (the palette
// colour `role` at one opacity, a stronger one while pressed, over its
// rectangle grown by `outset` and rounded by `radius`) and the focus mark,
// rounded by `focusRadius`, while it has the keyboard focus.
class HoverButton : public QAbstractButton {
    Q_OBJECT
public:
    struct Tint {
        QPalette::ColorRole role = QPalette::Highlight;
        qreal hoverOpacity = 0.08;
        qreal pressedOpacity = 0.18;
        QMargins outset;
        qreal radius = 0;
        qreal focusRadius = 4;
    };

    explicit HoverButton(Tint tint, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    Tint m_tint;
};
