#include "execution/TerminalLaunch.h"

#include "execution/TerminalFolderCleanup.h"
#include "execution/TerminalLaunchError.h"
#include "platform/Logging.h"
#include "platform/TerminalLauncher.h"

#include <QFile>
#include <QUuid>

#include <cerrno>
#include <system_error>

#include <sys/stat.h>

void launchInTerminal(const TerminalLaunchRequest &request, TerminalLauncher &launcher, TerminalFolderCleanup &cleanup)
{
    const QString folder = terminalScriptBaseFolder() + QStringLiteral("/velmora-")
                           + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString script = folder + QLatin1Char('/') + QLatin1String(terminalScriptName);
    if (!isSafeShellPath(request.shellPath))
        throw TerminalLaunchError::launchFailed(
            QStringLiteral("Default shell must be an absolute path without line breaks."));

    const QByteArray folderPath = QFile::encodeName(folder);
    if (::mkdir(folderPath.constData(), 0700) != 0)
        throw TerminalLaunchError::launchFailed(
            QStringLiteral("Could not create the folder %1: %2").arg(folder, qt_error_string(errno)));
    try {
        // Exactly 0700, whatever the umask took away.
        if (::chmod(folderPath.constData(), 0700) != 0)
            throw TerminalLaunchError::launchFailed(
                QStringLiteral("Could not create the folder %1: %2").arg(folder, qt_error_string(errno)));
        const QString text = makeTerminalScript(request, script, folder);
        try {
            writeTerminalScript(text, script);
        } catch (const std::system_error &error) {
            throw TerminalLaunchError::launchFailed(
                QStringLiteral("Could not write %1: %2").arg(script, qt_error_string(error.code().value())));
        }
        if (!launcher.launch(script))
            throw TerminalLaunchError::launchFailed(QStringLiteral("Terminal launch request failed."));
    } catch (...) {
        removeTerminalFolder(folder);
        throw;
    }
    cleanup.schedule(folder);
    qCInfo(lcProcess, "Launched %s in a terminal window", qUtf8Printable(request.serviceName));
}
