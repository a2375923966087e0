#include "ui/components/NameRule.h"

#include "records/OneLineText.h"

#include <algorithm>
#include <utility>

namespace NameRule {

bool hasControlCharacters(const QString &name)
{
    // Every Cc character lies in the basic plane, so UTF-16 units suffice.
    return std::any_of(name.cbegin(), name.cend(), [](QChar character) {
        return character.category() == QChar::Other_Control || OneLineText::isSeparator(character);
    });
}

QString oneLine(QString name)
{
    return OneLineText::of(std::move(name));
}

QString controlCharacterMessage()
{
    return QStringLiteral("Names can’t contain control characters such as tabs or line breaks.");
}

} // namespace NameRule
