#include "support/Await.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <csignal>
#include <cstdio>

#include <unistd.h>

// A test program started by another keeps its home while it runs; once it has
// ended, even by SIGKILL, the program that started it removes that home.
TEST(TestEnvironment, AChildProgramsHomeIsRemovedOnlyOnceTheChildHasEnded)
{
    constexpr char childMark[] = "VELMORA_TEST_ENVIRONMENT_CHILD";
    if (qEnvironmentVariableIsSet(childMark)) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::printf("home=%s\n", qPrintable(TestEnvironment::home()));
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(childMark), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=TestEnvironment.AChildProgramsHomeIsRemovedOnlyOnceTheChildHasEnded")});
    QByteArray output;
    const auto saidHome = [&] {
        output += child.readAllStandardOutput();
        return output.contains("home=") && output.indexOf('\n', output.indexOf("home=")) > 0;
    };
    ASSERT_TRUE(waitUntil(saidHome, 30000)) << output.toStdString();
    const QString home = QString::fromLocal8Bit(output.mid(output.indexOf("home=") + 5).split('\n').first());
    ASSERT_TRUE(home.contains(QStringLiteral("-of-%1-").arg(::getpid()))) << home.toStdString();

    TestEnvironment::removeEndedChildHomes();
    EXPECT_TRUE(QFileInfo::exists(home)) << "removed while its program ran";
    child.kill();
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_TRUE(QFileInfo::exists(home)); // nothing else removes it
    TestEnvironment::removeEndedChildHomes();
    EXPECT_FALSE(QFileInfo::exists(home));
}
