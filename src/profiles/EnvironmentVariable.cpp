#include "profiles/EnvironmentVariable.h"

#include "platform/SensitiveBytes.h"

namespace {
bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    if ((u >= 0x09 && u <= 0x0D) || u == 0x85)
        return true;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool isAsciiLetter(char16_t u)
{
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}
} // namespace

QString EnvironmentVariable::trimmedKey(const QString &key)
{
    qsizetype begin = 0;
    qsizetype end = key.size();
    while (begin < end && isBlank(key.at(begin)))
        ++begin;
    while (end > begin && isBlank(key.at(end - 1)))
        --end;
    return key.mid(begin, end - begin);
}

bool EnvironmentVariable::isValidKey(const QString &key)
{
    const QString trimmed = trimmedKey(key);
    if (trimmed.isEmpty())
        return false;
    // Every UTF-16 unit of a non-ASCII character is above 0x7F, so checking
    // units rejects exactly what a check of the UTF-8 bytes would.
    const char16_t first = trimmed.front().unicode();
    if (!isAsciiLetter(first) && first != u'_')
        return false;
    for (qsizetype i = 1; i < trimmed.size(); ++i) {
        const char16_t u = trimmed.at(i).unicode();
        if (!isAsciiLetter(u) && !(u >= u'0' && u <= u'9') && u != u'_')
            return false;
    }
    return true;
}

void EnvironmentVariable::wipeValues(QList<EnvironmentVariable> &variables)
{
    // Writing through a shared list would detach it and wipe only fresh copies.
    if (variables.isDetached()) {
        for (EnvironmentVariable &variable : variables)
            SensitiveBytes::wipe(variable.value);
    }
    variables.clear();
}

EnvironmentVariable EnvironmentVariable::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "EnvironmentVariable");
    const std::optional<qint64> generation = reader.optionalInt64("secretGeneration");
    if (generation && (*generation < 1 || *generation > maxSecretGeneration))
        throw json::DecodeError(QStringLiteral("Invalid value for %1: %2 is not a generation (1 to %3).")
                                    .arg(reader.where("secretGeneration"))
                                    .arg(*generation)
                                    .arg(maxSecretGeneration));
    return {reader.uuid("id"), reader.string("key"), reader.string("value"), reader.boolean("isSecret"), generation};
}

json::Value EnvironmentVariable::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("id", id)
        .set("key", key)
        .set("value", value)
        .set("isSecret", isSecret)
        .setOptional("secretGeneration", secretGeneration)
        .take();
}

size_t qHash(const EnvironmentVariable &variable, size_t seed)
{
    return qHashMulti(seed, variable.id, variable.key, variable.value, variable.isSecret);
}
