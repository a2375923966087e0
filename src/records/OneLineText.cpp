#include "records/OneLineText.h"

#include <algorithm>

namespace OneLineText {

bool isSeparator(QChar character)
{
    return character == QChar::LineSeparator || character == QChar::ParagraphSeparator;
}

QString of(QString text)
{
    std::replace_if(text.begin(), text.end(), isSeparator, QChar(QChar::Space));
    return text;
}

} // namespace OneLineText
