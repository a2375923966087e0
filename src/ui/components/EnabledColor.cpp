#include "ui/components/EnabledColor.h"

#include <QWidget>

void setEnabledColor(QWidget *widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = widget->palette();
    // Setting an equal colour would still send a PaletteChange, which is
    // where tints are recomputed.
    if (widget->testAttribute(Qt::WA_SetPalette) && palette.isBrushSet(QPalette::Active, role)
        && palette.color(QPalette::Active, role) == color && palette.color(QPalette::Inactive, role) == color)
        return;
    palette.setColor(QPalette::Active, role, color);
    palette.setColor(QPalette::Inactive, role, color);
    widget->setPalette(palette);
}
