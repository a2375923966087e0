#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QAbstractButton;

// The symbols of the interface, named as the design names them ("lock.fill",
// "chevron.right", ...). Each maps to a freedesktop icon name (Adwaita is the
// fallback theme); the few without a fitting icon are drawn here. A widget
// showing a symbol keeps its name in the "symbolName" property, which tests
// read:
//     setButtonSymbol(button, QStringLiteral("trash"), Palette::red(), 14);
inline constexpr char symbolNameProperty[] = "symbolName";

// The icon-theme name a symbol maps to; empty for the symbols drawn here.
QString symbolThemeIconName(const QString &symbolName);
// The symbol in the theme's own colours (drawn ones in the text colour).
QIcon symbolIcon(const QString &symbolName);
// The symbol as a single-colour picture of `size` logical pixels.
QPixmap symbolPixmap(const QString &symbolName, int size, const QColor &color, qreal devicePixelRatio = 1.0);
// The same, as an icon that looks the same enabled and disabled.
QIcon tintedSymbolIcon(const QString &symbolName, int size, const QColor &color, qreal devicePixelRatio = 1.0);
// Sets a button's icon to the tinted symbol and records its name.
void setButtonSymbol(QAbstractButton *button, const QString &symbolName, const QColor &color, int size = 16);
