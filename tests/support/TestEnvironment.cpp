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

// The test program that started this one, or 0. Read before this program
// puts its own id there for its children.
qint64 starter()
{
    static const qint64 pid = qEnvironmentVariableIntValue(starterVariable);
    return pid;
}

UniqueFd openFolder(const QString &path)
{
    return UniqueFd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A home, locked for as long as this process lives: the lock goes with the
// process, however it ends, and unlike its id it is never another's.
struct Home {
    explicit Home(const QString &folderTemplate)
        : folder(folderTemplate),
          lock(openFolder(folder.path()))
    {
        if (lock.isValid())
            (void)::flock(lock.get(), LOCK_EX);
    }

    QTemporaryDir folder;
    UniqueFd lock;
};

std::unique_ptr<Home> &temporaryHome()
{
    static std::unique_ptr<Home> home;
    return home;
}

// Every home this process made, to check at its end that none is left.
QStringList &homesMade()
{
    static QStringList made;
    return made;
}

QString homeTemplate()
{
    QString name = QStringLiteral("velmora-test-%1").arg(::getpid());
    if (starter() > 0)
        name += QStringLiteral("-of-%1").arg(starter());
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral("-XXXXXX");
}

// The homes of the test programs this one started.
QStringList childHomes()
{
    const QDir temporary(QDir::tempPath());
    QStringList homes;
    const QStringList names = temporary.entryList({QStringLiteral("velmora-test-*-of-%1-*").arg(::getpid())},
                                                  QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        homes.append(temporary.filePath(name));
    return homes;
}

// Whether a process still holds the home, or this one cannot tell.
bool inUse(const QString &home)
{
    const UniqueFd folder = openFolder(home);
    return !folder.isValid() || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0;
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
    auto &home = temporaryHome();
    home = std::make_unique<Home>(homeTemplate());
    const QString path = home->folder.path();
    homesMade().append(path);
    const QByteArray root = path.toUtf8();
    QDir(path).mkpath(QStringLiteral(".local/share"));
    QDir(path).mkpath(QStringLiteral(".config"));
    QDir(path).mkpath(QStringLiteral(".cache"));
    ::setenv("HOME", root.constData(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
}

void isolateHomePerTest()
{
    (void)starter();
    qputenv(starterVariable, QByteArray::number(::getpid()));
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomePerTest);
}

QString home()
{
    return temporaryHome()->folder.path();
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

void removeEndedChildHomes()
{
    for (const QString &home : childHomes()) {
        if (!inUse(home))
            QDir(home).removeRecursively();
    }
}

int finish(int status)
{
    temporaryHome().reset();
    removeEndedChildHomes();
    QStringList left = childHomes();
    for (const QString &home : std::as_const(homesMade())) {
        if (QFileInfo::exists(home))
            left.append(home);
    }
    if (left.isEmpty())
        return status;
    std::fprintf(stderr, "Test homes left behind:\n");
    for (const QString &home : std::as_const(left))
        std::fprintf(stderr, "  %s\n", qPrintable(home));
    return status != 0 ? status : 1;
}

} // namespace TestEnvironment
