#include "execution/TerminalScript.h"

#include "execution/SudoWrapper.h"
#include "execution/TerminalLaunchError.h"
#include "profiles/EnvironmentVariable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString unsafeShellMessage = QStringLiteral("Default shell must be an absolute path without line breaks.");

void writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw std::system_error(errno, std::generic_category());
        if (written == 0)
            throw std::system_error(EIO, std::generic_category());
        data += written;
        left -= written;
    }
}

} // namespace

bool isSafeShellPath(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar character : path) {
        const char16_t unit = character.unicode();
        if (unit == 0 || (unit >= 0x0A && unit <= 0x0D) || unit == 0x85 || unit == 0x2028 || unit == 0x2029)
            return false;
    }
    return true;
}

QString terminalScriptBaseFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return QDir::cleanPath(runtime);
    return QDir::tempPath();
}

QString makeTerminalScript(const TerminalLaunchRequest &request, const QString &scriptPath, const QString &folderPath)
{
    if (!isSafeShellPath(request.shellPath))
        throw TerminalLaunchError::launchFailed(unsafeShellMessage);
    QStringList lines {QStringLiteral("#!") + request.shellPath};
    for (auto it = request.environment.cbegin(); it != request.environment.cend(); ++it) {
        if (it.key().isEmpty())
            continue;
        if (!EnvironmentVariable::isValidKey(it.key()))
            throw TerminalLaunchError::invalidEnvironmentKey(it.key());
        // Exported by its trimmed name: blanks around a name would break the line.
        const QString key = EnvironmentVariable::trimmedKey(it.key());
        lines.append(QStringLiteral("export ") + key + QLatin1Char('=') + shellQuoted(it.value()));
    }
    if (!request.homePath.isEmpty())
        lines.append(QStringLiteral("cd ") + shellQuoted(request.homePath));
    lines.append(QStringLiteral("/bin/rm -f ") + shellQuoted(scriptPath));
    lines.append(QStringLiteral("/bin/rmdir ") + shellQuoted(folderPath) + QStringLiteral(" 2>/dev/null || true"));
    if (commandCallsSudo(request.command))
        lines.append(
            QStringLiteral("if [ -t 0 ]; then /usr/bin/perl -MPOSIX -e 'tcflush(STDIN, 0)' 2>/dev/null || true; fi"));
    lines.append(request.command);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void writeTerminalScript(const QString &text, const QString &scriptPath)
{
    const QByteArray path = QFile::encodeName(scriptPath);
    int fd = -1;
    do {
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category());
    try {
        // Exactly 0700, whatever the umask took away.
        if (::fchmod(fd, 0700) != 0)
            throw std::system_error(errno, std::generic_category());
        writeAll(fd, text.toUtf8());
    } catch (...) {
        ::close(fd);
        ::unlink(path.constData());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.constData());
        throw std::system_error(error, std::generic_category());
    }
}
