#pragma once

#include "ui/components/ThemeColor.h"

#include <QWidget>

// A filled round dot in one colour, resolved while painting so that it
// follows the theme:
//     auto *dot = new StatusDot(8, ThemeColor::secondary());
//     dot->setColor(Palette::Color::green);
class StatusDot : public QWidget {
    Q_OBJECT
public:
    explicit StatusDot(int diameter, ThemeColor color = ThemeColor::secondary(), QWidget *parent = nullptr);

    // The colour at `opacity` (1 for opaque).
    void setColor(ThemeColor color, qreal opacity = 1.0);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ThemeColor m_color;
    qreal m_opacity = 1.0;
};
