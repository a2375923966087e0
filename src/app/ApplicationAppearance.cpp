#include "app/ApplicationAppearance.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>

// Interim until the theme manager of the components is merged: Fusion with a
// light or a dark palette, the style's own palette for "system".
void applyApplicationAppearance(AppAppearanceMode mode)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // Platforms without a desktop theme (offscreen, a bare X server) search
    // only the resources: add the shared icon folders, Adwaita as fallback.
    QStringList searchPaths = QIcon::themeSearchPaths();
    const QStringList shared = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                         QStandardPaths::LocateDirectory);
    for (const QString &folder : shared) {
        if (!searchPaths.contains(folder))
            searchPaths.append(folder);
    }
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (mode != AppAppearanceMode::dark) {
        QApplication::setPalette(QApplication::style()->standardPalette());
        return;
    }
    // Built from button and window colours so the derived roles (light, mid,
    // dark, shadow) are dark too.
    QPalette dark(QColor(0x3a, 0x3a, 0x3c), QColor(0x24, 0x24, 0x26));
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
