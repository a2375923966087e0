#include "support/TestEnvironment.h"

#include "records/ApplicationSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace TestEnvironment {

namespace {
std::unique_ptr<QTemporaryDir> &temporaryHome()
{
    static std::unique_ptr<QTemporaryDir> folder;
    return folder;
}

class FreshHomePerTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override { isolateHome(); }
};
} // namespace

void isolateHome()
{
    auto &folder = temporaryHome();
    folder.reset();
    folder = std::make_unique<QTemporaryDir>(temporaryFolderTemplate(QStringLiteral("velmora-test")));
    const QByteArray root = folder->path().toUtf8();
    QDir(folder->path()).mkpath(QStringLiteral(".local/share"));
    QDir(folder->path()).mkpath(QStringLiteral(".config"));
    QDir(folder->path()).mkpath(QStringLiteral(".cache"));
    ::setenv("HOME", root.constData(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
}

void isolateHomePerTest()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomePerTest);
}

QString home()
{
    return temporaryHome()->path();
}

QString dataFolder()
{
    return applicationSupportDirectory();
}

QString temporaryFolderTemplate(const QString &prefix)
{
    return QDir::tempPath() + QLatin1Char('/') + prefix + QLatin1Char('-') + QString::number(::getpid())
           + QStringLiteral("-XXXXXX");
}

} // namespace TestEnvironment
