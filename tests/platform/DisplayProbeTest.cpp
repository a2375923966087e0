#include "platform/DisplayProbe.h"
#include "support/XvfbServer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A server that refuses this user's cookie (as after sudo, XAUTHORITY left behind) does not answer, and says why.
TEST(DisplayProbe, AnXDisplayAnswersOnlyWhenItTakesTheConnection)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xauth")).isEmpty())
        GTEST_SKIP() << "xauth is missing";
    QTemporaryDir folder;
    const QString cookies = folder.filePath(QStringLiteral("cookies"));
    const QString add = QStringLiteral("-f %1 add :0 . 0123456789abcdef0123456789abcdef").arg(cookies);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xauth"), add.split(u' ')), 0);
    XvfbServer open, guarded;
    ASSERT_TRUE(open.start()) << open.error().toStdString();
    ASSERT_TRUE(guarded.start(15000, {"-auth", QFile::encodeName(cookies)})) << guarded.error().toStdString();
    qputenv("XAUTHORITY", QFile::encodeName(folder.filePath(QStringLiteral("none"))));

    const DisplayProbe::X11Answer answered = DisplayProbe::askX11(open.display());
    EXPECT_TRUE(answered.connection && answered.failure.isEmpty()) << answered.failure.toStdString();
    const DisplayProbe::X11Answer refused = DisplayProbe::askX11(guarded.display());
    EXPECT_TRUE(
        !refused.connection
        && refused.failure.startsWith(QStringLiteral("the X server refused the connection: Authorization required")))
        << refused.failure.toStdString();
    EXPECT_EQ(DisplayProbe::askX11(":299").failure, QStringLiteral("no X server listens there"));
    EXPECT_EQ(DisplayProbe::askX11("no display").failure, QStringLiteral("that is not a display name"));
    qunsetenv("XAUTHORITY");
}

TEST(DisplayProbe, AWaylandDisplayAnswersWhenItsSocketTakesAConnection)
{
    QTemporaryDir runtime;
    const QByteArray path = QFile::encodeName(runtime.filePath(QStringLiteral("wayland-7")));
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {AF_UNIX, {}};
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);

    const QByteArray folder = QFile::encodeName(runtime.path());
    EXPECT_EQ(DisplayProbe::waylandFailure("wayland-7", folder), std::nullopt);
    EXPECT_EQ(DisplayProbe::waylandFailure("wayland-8", folder), QStringLiteral("No such file or directory"));
    ::close(listening);
    EXPECT_EQ(DisplayProbe::waylandFailure(path, {}), QStringLiteral("Connection refused"));
}
