#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QWidget;
class QLabel;
class QAbstractButton;

// The look the screens share: palette colours, text styles and symbols.
namespace ScreenStyle {

enum class Tint { slate, steel, blue, green, orange, red };
enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

bool isDark();
QColor color(Tint tint);
QColor secondaryText();
QColor tertiaryText();
QString cssColor(const QColor &color);
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
QFont monospaced(TextStyle style = TextStyle::body, QFont::Weight weight = QFont::Normal);

// The icon of a symbol name; the name is kept in the widget's "symbolName" property.
QIcon symbol(const QString &symbolName, const QColor &tint = QColor());
void setSymbol(QLabel &label, const QString &symbolName, int size, const QColor &tint = QColor());
void setSymbol(QAbstractButton &button, const QString &symbolName, int size, const QColor &tint = QColor());

// A label for data: plain text, never interpreted.
QLabel *plainLabel(const QString &text, TextStyle style, QWidget *parent = nullptr,
                   QFont::Weight weight = QFont::Normal);

} // namespace ScreenStyle
