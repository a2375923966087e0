#include "platform/LoginShell.h"

#include "platform/UserAccount.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QString fallbackShell = QStringLiteral("/bin/sh");

// Shells that take -l and -c and read the sh syntax Velmora writes.
bool isShFamily(const QString &shellName)
{
    static const QStringList names {QStringLiteral("sh"),   QStringLiteral("bash"), QStringLiteral("dash"),
                                    QStringLiteral("zsh"),  QStringLiteral("ksh"),  QStringLiteral("ksh93"),
                                    QStringLiteral("mksh"), QStringLiteral("lksh"), QStringLiteral("pdksh"),
                                    QStringLiteral("oksh"), QStringLiteral("ash"),  QStringLiteral("yash"),
                                    QStringLiteral("posh")};
    return names.contains(shellName);
}

} // namespace

QString loginShellOf(uid_t uid)
{
    const std::optional<UserAccount> account = UserAccount::of(uid);
    return account ? account->shell : QString();
}

QString defaultServiceShellFor(const QString &loginShell)
{
    if (loginShell.isEmpty() || !loginShell.startsWith(QLatin1Char('/')))
        return fallbackShell;
    const QFileInfo shell(loginShell);
    if (!isShFamily(shell.fileName()) || !shell.isFile() || !shell.isExecutable())
        return fallbackShell;
    return loginShell;
}

QString defaultServiceShell()
{
    static const QString shell = defaultServiceShellFor(loginShellOf(::getuid()));
    return shell;
}
