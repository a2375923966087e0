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
                               const QString &sudo, const QString &beforeExec)
{
    QStringList words {sudo,
                       QStringLiteral("-S"),
                       QStringLiteral("-p"),
                       shellQuoted(prompt),
                       QStringLiteral("-v"),
                       QStringLiteral("&&")};
    if (!beforeExec.isEmpty())
        words.append(beforeExec);
    words.append({QStringLiteral("exec"), shellQuoted(shellPath), QStringLiteral("-lc"), shellQuoted(command)});
    return words.join(QLatin1Char(' '));
}

namespace {

const QString wrapperShell = QStringLiteral("/bin/sh");

// The variables the wrapper shell runs without and the command's login shell
// gets back as the user has them: the launch's environment, else the
// application's own. SHELL, which script needs to be /bin/sh, is unset again
// when the user has none.
QString restoredVariables(const QMap<QString, QString> &environment)
{
    QStringList words;
    for (const QString &key : {QStringLiteral("SHELL"), QStringLiteral("ENV"), QStringLiteral("BASH_ENV")}) {
        std::optional<QString> value;
        if (environment.contains(key))
            value = environment.value(key);
        else if (qEnvironmentVariableIsSet(key.toUtf8().constData()))
            value = qEnvironmentVariable(key.toUtf8().constData());
        if (value)
            words.append(key + QLatin1Char('=') + shellQuoted(*value));
        else if (key == QLatin1String("SHELL"))
            words.prepend(QStringLiteral("unset SHELL &&"));
    }
    return words.join(QLatin1Char(' '));
}

} // namespace

SudoLaunch makeSudoLaunchConfiguration(const QString &shellPath, const QString &command, const QString &prompt,
                                       const QMap<QString, QString> &environment, const QString &workingDirectory,
                                       const QString &sudo)
{
    const QString wrapper = makeSudoWrapperCommand(shellPath, command, prompt, sudo, restoredVariables(environment));
    SudoLaunch launch;
    ProcessLaunchConfiguration &configuration = launch.configuration;
    configuration.executableURL = QUrl::fromLocalFile(SudoWrapper::scriptPath);
    configuration.arguments = {QStringLiteral("-q"),
                               QStringLiteral("-f"),
                               QStringLiteral("-e"),
                               QStringLiteral("-E"),
                               QStringLiteral("never"),
                               QStringLiteral("-c"),
                               QStringLiteral("exec ") + wrapperShell + QStringLiteral(" -c ") + shellQuoted(wrapper),
                               QStringLiteral("/dev/null")};
    configuration.workingDirectory = workingDirectory;
    configuration.environment = environment;
    configuration.environment.insert(QStringLiteral("SHELL"), wrapperShell);
    configuration.removedEnvironment = {QStringLiteral("ENV"), QStringLiteral("BASH_ENV")};
    for (const QString &key : std::as_const(configuration.removedEnvironment))
        configuration.environment.remove(key);
    configuration.useShell = false;
    configuration.shellPath = shellPath;
    configuration.usePseudoTerminal = true;
    launch.wrapperCommandLine = wrapperShell + QStringLiteral(" -c ") + wrapper;
    return launch;
}
