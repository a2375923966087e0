#include "AppFixture.h"

#include "support/XvfbServer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace {

// The real application, started from the build folder next to the test programs.
struct VelmoraBinaryTest : ::testing::Test {
    XvfbServer display;
    QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../velmora");

    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs the private session bus of scripts/with-test-session.sh";
        ASSERT_TRUE(QFileInfo(binary).isExecutable()) << binary.toStdString();
        ASSERT_TRUE(display.start()) << display.error().toStdString();
    }

    std::unique_ptr<QProcess> start()
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display.display()));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // In a sanitizer build: the X keyboard library hands strndup a reply
        // buffer that has no terminating zero, which the strict string checks
        // take for an overflow although strndup stops at its length.
        if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":strict_string_checks=0"));
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(binary, {});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    // Whether the display shows a top-level window titled "Velmora".
    bool showsMainWindow() const
    {
        QProcess tree;
        tree.start(QStringLiteral("xwininfo"),
                   {QStringLiteral("-display"), QString::fromLatin1(display.display()), QStringLiteral("-root"),
                    QStringLiteral("-tree")});
        tree.waitForFinished(5000);
        return tree.readAllStandardOutput().contains("\"Velmora\"");
    }

    static bool waitForLog(QProcess &process, QByteArray &log, const QByteArray &fragment, int timeoutMs)
    {
        return waitUntil(
            [&] {
                log += process.readAllStandardError();
                return log.contains(fragment) || process.state() == QProcess::NotRunning;
            },
            timeoutMs) &&
               log.contains(fragment);
    }

    static void endIfRunning(QProcess &process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

TEST_F(VelmoraBinaryTest, WindowAppearsASecondStartHandsOverAndSigtermQuitsCleanly)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
        GTEST_SKIP() << "xwininfo is missing";
    auto first = start();
    QByteArray log;
    ASSERT_TRUE(waitForLog(*first, log, "Velmora bootstrap complete — 0 services", 20000)) << log.toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsMainWindow(); }, 10000));

    // A second start asks the first for its window and ends at once with 0.
    auto second = start();
    EXPECT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    ::kill(pid_t(first->processId()), SIGTERM);
    EXPECT_TRUE(first->waitForFinished(15000));
    log += first->readAllStandardError();
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit) << log.toStdString();
    EXPECT_EQ(first->exitCode(), 0) << log.toStdString();
    endIfRunning(*first);
    endIfRunning(*second);
}
