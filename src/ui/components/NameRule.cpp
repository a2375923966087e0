#include "ui/components/NameRule.h"

#include <algorithm>

namespace NameRule {

namespace {

bool isLineSeparator(QChar character)
{
    return character == QChar::LineSeparator || character == QChar::ParagraphSeparator;
}

} // namespace

bool hasControlCharacters(const QString &name)
{
    // Every Cc character lies in the basic plane, so UTF-16 units suffice.
    return std::any_of(name.cbegin(), name.cend(), [](QChar character) {
        return character.category() == QChar::Other_Control || isLineSeparator(character);
    });
}

QString oneLine(QString name)
{
    std::replace_if(name.begin(), name.end(), isLineSeparator, QChar(QChar::Space));
    return name;
}

QString controlCharacterMessage()
{
    return QStringLiteral("Names can’t contain control characters such as tabs or line breaks.");
}

} // namespace NameRule
