#include "support/TestEnvironment.h"

#include "records/ApplicationSupport.h"

#include <QDir>
#include <QProcessEnvironment>
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

// Each case starts from the environment its program started with (a case may change PATH), in a home of its own.
class FreshHomePerTest : public ::testing::EmptyTestEventListener {
    void OnTestProgramStart(const ::testing::UnitTest &) override
    {
        m_start = QProcessEnvironment::systemEnvironment();
    }
    void OnTestStart(const ::testing::TestInfo &) override
    {
        for (const QString &name : QProcessEnvironment::systemEnvironment().keys())
            qunsetenv(qPrintable(name));
        for (const QString &name : m_start.keys())
            qputenv(qPrintable(name), m_start.value(name).toLocal8Bit());
        isolateHome();
    }

    QProcessEnvironment m_start;
};
} // namespace

void isolateHome()
{
    auto &folder = temporaryHome();
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
