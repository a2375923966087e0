#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QLabel;
class QWidget;

// The symbols the Services screen shows, drawn from the icon theme, until the
// shared symbol table is in. Widgets keep the symbol's name in the property
// "symbolName".
namespace ServicesSymbols {

QIcon icon(const QString &symbol);
// The symbol as one colour, `size` pixels square.
QPixmap tinted(const QString &symbol, const QColor &color, int size, qreal devicePixelRatio = 1.0);
QLabel *label(const QString &symbol, const QColor &color, int size, QWidget *parent = nullptr);

} // namespace ServicesSymbols
