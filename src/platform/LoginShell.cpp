#include "platform/LoginShell.h"

#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

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
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? size_t(suggested) : 1024);
    passwd entry {};
    passwd *found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (1U << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !found || !found->pw_shell)
        return {};
    return QFile::decodeName(found->pw_shell);
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
