#include "execution/SudoWrapper.h"

#include <QRegularExpression>
#include <QUuid>

QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

bool commandCallsSudo(const QString &command)
{
    static const QRegularExpression pattern(QStringLiteral("(^|[\\s;&|()])(?:/usr/bin/)?sudo(?:\\s|$)"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern.match(command).hasMatch();
}

std::optional<QString> makeSudoPrompt(const QString &command, bool passwordGiven)
{
    if (!commandCallsSudo(command) || !passwordGiven)
        return std::nullopt;
    return QStringLiteral("[Velmora sudo ") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
           + QStringLiteral("] password: ");
}

QString makeSudoWrapperCommand(const QString &shellPath, const QString &command, const QString &prompt,
                               const QString &sudo)
{
    return QStringList {sudo,
                        QStringLiteral("-S"),
                        QStringLiteral("-p"),
                        shellQuoted(prompt),
                        QStringLiteral("-v"),
                        QStringLiteral("&&"),
                        QStringLiteral("exec"),
                        shellQuoted(shellPath),
                        QStringLiteral("-lc"),
                        shellQuoted(command)}
        .join(QLatin1Char(' '));
}

namespace {

// script runs its -c text with $SHELL, so script itself gets /bin/sh; the
// command gets back the SHELL it would have had without the sudo form.
QString restoreShellVariable(const QMap<QString, QString> &environment)
{
    const QString key = QStringLiteral("SHELL");
    if (environment.contains(key))
        return key + QLatin1Char('=') + shellQuoted(environment.value(key)) + QLatin1Char(' ');
    if (qEnvironmentVariableIsSet("SHELL"))
        return key + QLatin1Char('=') + shellQuoted(qEnvironmentVariable("SHELL")) + QLatin1Char(' ');
    return QStringLiteral("unset SHELL; ");
}

} // namespace

ProcessLaunchConfiguration makeSudoLaunchConfiguration(const QString &shellPath, const QString &command,
                                                       const QString &prompt, const QMap<QString, QString> &environment,
                                                       const QString &workingDirectory, const QString &sudo)
{
    const QString wrapper = makeSudoWrapperCommand(shellPath, command, prompt, sudo);
    ProcessLaunchConfiguration configuration;
    configuration.executableURL = QUrl::fromLocalFile(SudoWrapper::scriptPath);
    configuration.arguments = {QStringLiteral("-q"),
                               QStringLiteral("-f"),
                               QStringLiteral("-e"),
                               QStringLiteral("-E"),
                               QStringLiteral("never"),
                               QStringLiteral("-c"),
                               restoreShellVariable(environment) + QStringLiteral("exec ") + shellQuoted(shellPath)
                                   + QStringLiteral(" -lc ") + shellQuoted(wrapper),
                               QStringLiteral("/dev/null")};
    configuration.workingDirectory = workingDirectory;
    configuration.environment = environment;
    configuration.environment.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
    configuration.useShell = false;
    configuration.shellPath = shellPath;
    configuration.usePseudoTerminal = true;
    return configuration;
}
