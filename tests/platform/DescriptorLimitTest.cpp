#include "platform/DescriptorLimit.h"
#include "platform/ProcessSpawn.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// Velmora raises its own limit; what it launches gets back the one it started with.
TEST(DescriptorLimit, TheProcessGetsTheHardLimitAndItsChildrenTheOriginalSoftOne)
{
    rlimit start {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &start), 0);
    if (start.rlim_max < 512)
        GTEST_SKIP() << "the hard limit leaves no room to tell the two apart";
    const rlimit lowered {256, start.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    ASSERT_TRUE(DescriptorLimit::raiseForThisProcess());
    rlimit now {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, start.rlim_max);

    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    int gate[2];
    ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
    ProcessSpawnRequest request;
    request.program = "/bin/sh";
    // The child waits for its limit to be set, as any program's start does.
    request.arguments = {"sh", "-c", "read -r _ <&3; ulimit -Sn"};
    request.standardOutput = output[1];
    request.descriptor3 = gate[0];
    SpawnedProcess child = spawnProcess(request);
    ::close(output[1]);
    ::close(gate[0]);
    ::close(gate[1]);
    ASSERT_TRUE(child.started());
    QByteArray printed;
    char buffer[64];
    for (ssize_t count; (count = ::read(output[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, count);
    ::close(output[0]);
    ::waitpid(child.pid, nullptr, 0);
    EXPECT_EQ(printed.trimmed(), QByteArray("256"));
}
