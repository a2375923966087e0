#include "execution/SudoWrapper.h"

#include "execution/ProcessLauncher.h"
#include "platform/SensitiveBytes.h"
#include "platform/UserAccount.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QUuid>

#include <paths.h>
#include <unistd.h>

QByteArray shellQuotedBytes(QByteArrayView text)
{
    QByteArray quoted = text.toByteArray();
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

QString shellQuoted(const QString &text)
{
    return QString::fromUtf8(shellQuotedBytes(text.toUtf8()));
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
                               const QString &helper, const QString &sudo)
{
    return QStringList {sudo,
                        QStringLiteral("-S"),
                        QStringLiteral("-p"),
                        shellQuoted(prompt),
                        QStringLiteral("-v"),
                        QStringLiteral("3<&-"),
                        QStringLiteral("&&"),
                        QStringLiteral("exec"),
                        shellQuoted(helper),
                        shellQuoted(shellPath),
                        QStringLiteral("-lc"),
                        shellQuoted(command)}
        .join(QLatin1Char(' '));
}

namespace {

const QString wrapperShell = QStringLiteral("/bin/sh");

QMap<QString, QString> environmentUntilValidated()
{
    QMap<QString, QString> environment {{QStringLiteral("SHELL"), wrapperShell},
                                        {QStringLiteral("PATH"), QStringLiteral(_PATH_STDPATH)}};
    if (const std::optional<UserAccount> account = UserAccount::of(::getuid())) {
        environment.insert(QStringLiteral("HOME"), account->home);
        environment.insert(QStringLiteral("USER"), account->name);
        environment.insert(QStringLiteral("LOGNAME"), account->name);
    }
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    for (const QString &name : own.keys()) {
        if (name == QLatin1String("TERM") || name == QLatin1String("LANG") || name.startsWith(QLatin1String("LC_")))
            environment.insert(name, own.value(name));
    }
    return environment;
}

// The entries as execve takes them, each up to a NUL as the child's
// environment would have it, and each ended by one. Written into one block
// that never grows, and the entries wiped: they may hold decrypted values.
QByteArray environmentEntries(QList<QByteArray> entries)
{
    const auto lengthToNul = [](const QByteArray &entry) { return qsizetype(qstrlen(entry.constData())); };
    qsizetype size = 0;
    for (const QByteArray &entry : std::as_const(entries))
        size += lengthToNul(entry) + 1;
    QByteArray bytes;
    bytes.reserve(size);
    for (QByteArray &entry : entries) {
        bytes.append(entry.constData(), lengthToNul(entry));
        bytes.append('\0');
        SensitiveBytes::wipe(entry);
    }
    return bytes;
}

} // namespace

SudoLaunch makeSudoLaunchConfiguration(const QString &shellPath, const QString &command, const QString &prompt,
                                       const QMap<QString, QString> &environment, const QString &workingDirectory,
                                       const QString &helper, const QString &sudo)
{
    ProcessLaunchConfiguration plain;
    plain.environment = environment;
    plain.usePseudoTerminal = true;

    const QString wrapper = makeSudoWrapperCommand(shellPath, command, prompt, helper, sudo);
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
    configuration.environment = environmentUntilValidated();
    configuration.environmentOnly = true;
    configuration.descriptor3Content = environmentEntries(launchEnvironment(plain));
    configuration.useShell = false;
    configuration.shellPath = shellPath;
    configuration.usePseudoTerminal = true;
    launch.wrapperCommandLine = wrapperShell + QStringLiteral(" -c ") + wrapper;
    return launch;
}
