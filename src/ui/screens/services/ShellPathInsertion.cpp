#include "ui/screens/services/ShellPathInsertion.h"

#include <QList>

namespace ShellPathInsertion {

namespace {

bool isShellSafe(char32_t scalar)
{
    if ((scalar >= U'a' && scalar <= U'z') || (scalar >= U'A' && scalar <= U'Z') || (scalar >= U'0' && scalar <= U'9'))
        return true;
    switch (scalar) {
    case U'/':
    case U'.':
    case U'_':
    case U'-':
    case U'+':
    case U'@':
    case U'%':
    case U':':
    case U'=':
    case U',':
        return true;
    default:
        return false;
    }
}

} // namespace

QString shellEscapedScalar(char32_t scalar)
{
    QString text = QString::fromUcs4(&scalar, 1);
    if (isShellSafe(scalar))
        return text;
    if (scalar == U'\n')
        return QStringLiteral("'\n'");
    return QLatin1Char('\\') + text;
}

QString shellEscapedPath(const QString &path)
{
    QString escaped;
    escaped.reserve(path.size() * 2);
    for (const uint scalar : path.toUcs4())
        escaped += shellEscapedScalar(static_cast<char32_t>(scalar));
    return escaped;
}

QString insertPathIntoCommand(const QString &path, const QString &command)
{
    QString escaped = shellEscapedPath(path);
    if (command.trimmed().isEmpty())
        return escaped;
    if (command.endsWith(QLatin1Char(' ')) || command.endsWith(QLatin1Char('\n')))
        return command + escaped;
    return command + QLatin1Char(' ') + escaped;
}

} // namespace ShellPathInsertion
