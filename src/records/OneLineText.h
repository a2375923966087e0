#pragma once

#include <QString>

// A stored name is drawn on one line wherever it appears, and some sentences
// that quote one are built below the widgets, so the rule lives here.
namespace OneLineText {

// U+2028 or U+2029: they break a line in any text widget, like a newline.
bool isSeparator(QChar character);
// `text` with each line or paragraph separator read as a space.
QString of(QString text);

} // namespace OneLineText
