#include "support/TestEnvironment.h"

#include "platform/UniqueFd.h"
#include "records/ApplicationSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace TestEnvironment {

namespace {

constexpr char starterVariable[] = "VELMORA_TEST_STARTED_BY";

std::unique_ptr<QTemporaryDir> &temporaryHome()
{
    static std::unique_ptr<QTemporaryDir> folder;
    return folder;
}

QStringList homesMade; // to check at the end that none is left

// A folder locked while the descriptor is open, or none when another process
// holds it. A home is locked for as long as its process lives: the lock goes
// with the process, however it ends, and unlike its id it is never another's.
UniqueFd lockedFolder(const QString &path, int operation)
{
    UniqueFd folder(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return folder.isValid() && ::flock(folder.get(), operation) == 0 ? std::move(folder) : UniqueFd();
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
    void OnTestEnd(const ::testing::TestInfo &) override { removeEndedChildHomes(); }

    QProcessEnvironment m_start;
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
    static UniqueFd lock;
    lock = lockedFolder(folder->path(), LOCK_EX);
    homesMade.append(folder->path());
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

QStringList removeEndedChildHomes()
{
    const QDir temporary(QDir::tempPath());
    QStringList left;
    for (const QString &name :
         temporary.entryList({QStringLiteral("velmora-test-*-of-%1-*").arg(::getpid())},
                             QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot)) {
        const QString home = temporary.filePath(name);
        if (!lockedFolder(home, LOCK_EX | LOCK_NB).isValid() || !QDir(home).removeRecursively())
            left.append(home);
    }
    return left;
}

int finish(int status)
{
    temporaryHome().reset();
    QStringList left = removeEndedChildHomes() + homesMade;
    left.removeIf([](const QString &home) { return !QFileInfo::exists(home); });
    for (const QString &home : std::as_const(left))
        std::fprintf(stderr, "Test home left behind: %s\n", qPrintable(home));
    return left.isEmpty() || status != 0 ? status : 1;
}

} // namespace TestEnvironment
