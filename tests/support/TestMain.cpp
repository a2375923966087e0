#include "support/TestEnvironment.h"
#include "support/ThrowawayAccount.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Accounts a killed earlier run could not remove (as root only).
    ThrowawayAccount::removeAbandonedAccounts();
    // Every test process gets its own HOME and data folder before Qt reads
    // them, and every test case a fresh one as it starts.
    TestEnvironment::isolateHome();
    TestEnvironment::isolateHomePerTest();
    // Screenshot runs ask for a real X display (scripts/screenshots.sh); every
    // other run draws offscreen.
    const QByteArray platform = qgetenv("VELMORA_TEST_QPA");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
