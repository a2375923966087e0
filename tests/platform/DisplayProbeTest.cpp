#include "platform/DisplayProbe.h"
#include "support/XvfbServer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A server that refuses this user's cookie (as after sudo, XAUTHORITY left behind) does not answer, and says why.
TEST(DisplayProbe, ARefusedXAuthorisationIsNoAnswer)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xauth")).isEmpty())
        GTEST_SKIP() << "xauth is missing";
    QTemporaryDir folder;
    const QString cookies = folder.filePath(QStringLiteral("cookies"));
    const QString add = QStringLiteral("-f %1 add :0 . 0123456789abcdef0123456789abcdef").arg(cookies);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xauth"), add.split(u' ')), 0);
    XvfbServer guarded;
    ASSERT_TRUE(guarded.start(15000, {"-auth", QFile::encodeName(cookies)})) << guarded.error().toStdString();
    qputenv("XAUTHORITY", QFile::encodeName(folder.filePath(QStringLiteral("none"))));
    const DisplayProbe::X11Answer refused = DisplayProbe::askX11(guarded.display());
    EXPECT_TRUE(!refused.connection && refused.failure.contains(QStringLiteral("Authorization required")))
        << refused.failure.toStdString();
}
