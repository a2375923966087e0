#include "support/FakeSudo.h"

#include <QFileInfo>

WrapperSudo::SetUidCheck fakeSudoCheck(const QString &path)
{
    return [wanted = QFileInfo(path).canonicalFilePath()](qint32 pid) {
        const std::optional<QString> commandLine = ProcFileSystem::system().readCommandLine(pid);
        if (!commandLine || !commandLine->startsWith(QStringLiteral("/bin/sh ")))
            return false;
        const QString script = commandLine->section(QLatin1Char(' '), 1, 1);
        return !wanted.isEmpty() && QFileInfo(script).canonicalFilePath() == wanted;
    };
}
