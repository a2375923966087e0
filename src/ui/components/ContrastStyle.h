#pragma once

#include <QProxyStyle>

// Fusion with the marks a keyboard or low-vision user depends on made strong
// enough to see: the border of an unticked check box (Fusion draws it a shade
// off the window colour, lost on a dark card), the edges of text fields (also
// multi-line ones) and combo boxes (3:1 on the surfaces around and inside them),
// the focus frame, and the keyboard focus of a push button (Fusion only shades
// its border).
class ContrastStyle final : public QProxyStyle {
    Q_OBJECT

public:
    ContrastStyle();

    // The check box border as it is drawn for `palette`.
    static QColor checkBoxBorderColor(const QPalette &palette);
    // The edge of a text field or combo box as it is drawn for `palette`.
    static QColor controlEdgeColor(const QPalette &palette);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};
