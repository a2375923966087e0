#pragma once

#include <QColor>
#include <QList>

class QAbstractButton;

// The colour a button paints its face with in the current style: the window
// behind a flat button, else the style's own bevel (Fusion lightens the
// palette's button colour, most of all in the dark theme).
// Fusion's face is a gradient: its top and bottom inside the frame.
QList<QColor> buttonFaceColors(const QAbstractButton *button);
// `tint` made legible as the text of `button` (see ColorContrast::legibleVariant).
QColor legibleButtonText(const QAbstractButton *button, const QColor &tint);
