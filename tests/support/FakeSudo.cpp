#include "support/FakeSudo.h"

ForegroundSudo::SetUidCheck fakeSudoCheck(const QString &path)
{
    return [path](qint32 pid) {
        const std::optional<QString> commandLine = ProcFileSystem::system().readCommandLine(pid);
        return commandLine && commandLine->startsWith(QStringLiteral("/bin/sh ") + path + QLatin1Char(' '));
    };
}
