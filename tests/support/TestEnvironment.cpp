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

// A test program started by another (which may end it by a signal) names its homes after that one.
constexpr char starterVariable[] = "VELMORA_TEST_STARTED_BY";

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

// Once every case has run, the test programs they started have ended: their homes go, and one left fails the run.
class ChildHomesRemoval : public ::testing::Environment {
    void TearDown() override
    {
        const QDir temporary(QDir::tempPath());
        const QStringList homes {QStringLiteral("velmora-test-*-of-%1-*").arg(::getpid())};
        for (const QString &name : temporary.entryList(homes, QDir::Dirs | QDir::NoSymLinks))
            QDir(temporary.filePath(name)).removeRecursively();
        EXPECT_EQ(temporary.entryList(homes, QDir::Dirs | QDir::NoSymLinks).join(u' ').toStdString(), "")
            << "test homes left behind";
    }
};
} // namespace

void isolateHome()
{
    // The test program that started this one, if any, read before isolateHomePerTest puts this one's id there.
    static const qint64 starter = qEnvironmentVariableIntValue(starterVariable);
    auto &folder = temporaryHome();
    const QString of = starter > 0 ? QStringLiteral("-of-%1").arg(starter) : QString();
    folder = std::make_unique<QTemporaryDir>(
        QStringLiteral("%1/velmora-test-%2%3-XXXXXX").arg(QDir::tempPath(), QString::number(::getpid()), of));
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
    qputenv(starterVariable, QByteArray::number(::getpid()));
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomePerTest);
    ::testing::AddGlobalTestEnvironment(new ChildHomesRemoval);
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
