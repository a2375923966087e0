#include "support/Await.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>

#include <unistd.h>

// A test program started by another keeps its home while it runs; once it has
// ended, even by SIGKILL, the program that started it removes that home.
TEST(TestEnvironment, AChildProgramsHomeIsRemovedOnlyOnceTheChildHasEnded)
{
    if (qEnvironmentVariableIsSet("VELMORA_TEST_ENVIRONMENT_CHILD")) {
        std::printf("home=%s\n", qPrintable(TestEnvironment::home()));
        std::fflush(stdout);
        ::sleep(300); // until it is killed
        return;
    }
    QProcess child;
    child.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("VELMORA_TEST_ENVIRONMENT_CHILD=1"));
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=TestEnvironment.AChildProgramsHomeIsRemovedOnlyOnceTheChildHasEnded")});
    QByteArray output;
    const auto saidHome = [&] {
        output += child.readAllStandardOutput();
        return output.contains("home=") && output.endsWith('\n'); // its last line: it waits then
    };
    ASSERT_TRUE(waitUntil(saidHome, 30000)) << output.toStdString();
    const QString home = QString::fromLocal8Bit(output.mid(output.indexOf("home=") + 5).trimmed());

    EXPECT_EQ(TestEnvironment::removeEndedChildHomes(), QStringList {home}) << "removed while its program ran";
    child.kill();
    ASSERT_TRUE(child.waitForFinished(30000));
    TestEnvironment::removeEndedChildHomes();
    EXPECT_FALSE(QFileInfo::exists(home));
}
