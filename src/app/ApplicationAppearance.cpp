#include "app/ApplicationAppearance.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

// Interim until the theme manager of the components is merged: Fusion with a
// light or a dark palette, the style's own palette for "system".
void applyApplicationAppearance(AppAppearanceMode mode)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (mode != AppAppearanceMode::dark) {
        QApplication::setPalette(QApplication::style()->standardPalette());
        return;
    }
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x24, 0x24, 0x26));
    dark.setColor(QPalette::WindowText, QColor(0xf2, 0xf2, 0xf2));
    dark.setColor(QPalette::Base, QColor(0x1c, 0x1c, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x2c, 0x2c, 0x2e));
    dark.setColor(QPalette::Text, QColor(0xf2, 0xf2, 0xf2));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3c));
    dark.setColor(QPalette::ButtonText, QColor(0xf2, 0xf2, 0xf2));
    dark.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3c));
    dark.setColor(QPalette::ToolTipText, QColor(0xf2, 0xf2, 0xf2));
    dark.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x63, 0x63, 0x66));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x63, 0x63, 0x66));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x63, 0x63, 0x66));
    QApplication::setPalette(dark);
}
