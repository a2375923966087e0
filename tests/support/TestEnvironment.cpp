#include "support/TestEnvironment.h"

#include "records/ApplicationSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace TestEnvironment {

namespace {
std::unique_ptr<QTemporaryDir> &temporaryHome()
{
    static std::unique_ptr<QTemporaryDir> folder;
    return folder;
}
} // namespace

void isolateHome()
{
    auto &folder = temporaryHome();
    folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX"));
    const QByteArray root = folder->path().toUtf8();
    QDir(folder->path()).mkpath(QStringLiteral(".local/share"));
    QDir(folder->path()).mkpath(QStringLiteral(".config"));
    QDir(folder->path()).mkpath(QStringLiteral(".cache"));
    ::setenv("HOME", root.constData(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
}

QString home()
{
    return temporaryHome()->path();
}

QString dataFolder()
{
    return applicationSupportDirectory();
}

} // namespace TestEnvironment
