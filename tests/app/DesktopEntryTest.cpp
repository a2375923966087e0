#include "platform/UniqueFd.h"
#include "support/TestEnvironment.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString output;
};

Outcome run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), TestEnvironment::home() + QStringLiteral("/.local/share"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

} // namespace

// The entry as the set-up script installs it, for a checkout whose path holds
// a space and characters the Exec key must escape, passes the validator of the
// desktop the README sets up on.
TEST(DesktopEntryTest, InstalledEntryPassesTheValidatorAndStartsTheGivenBinary)
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is missing (scripts/install-deps.sh installs desktop-file-utils)";
    const QString binary = TestEnvironment::home() + QStringLiteral("/my $checkout \"x\"/build-release/velmora");

    const Outcome install =
        run(QStringLiteral("bash"), {QStringLiteral(VELMORA_SOURCE_DIR "/scripts/install-desktop-entry.sh"), binary});
    ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();

    const QString applications = TestEnvironment::home() + QStringLiteral("/.local/share/applications");
    const QString entry = applications + QStringLiteral("/com.tolvenix.Velmora.desktop");
    const Outcome validation = run(validator, {entry});
    EXPECT_EQ(validation.exitCode, 0) << validation.output.toStdString();
    EXPECT_FALSE(validation.output.contains(QStringLiteral("error:"))) << validation.output.toStdString();
    EXPECT_FALSE(validation.output.contains(QStringLiteral("warning:"))) << validation.output.toStdString();

    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.first(), QStringLiteral("[Desktop Entry]"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Exec=\"") + TestEnvironment::home()
                               + QStringLiteral("/my \\\\$checkout \\\\\"x\\\\\"/build-release/velmora\"")))
        << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("Exec=")).size(), 1);
    EXPECT_TRUE(
        QFileInfo::exists(TestEnvironment::home()
                          + QStringLiteral("/.local/share/icons/hicolor/scalable/apps/com.tolvenix.Velmora.svg")));
}

// A copy of scripts/run.sh, whose install and build steps only leave a mark, stops before the install without a
// usable data folder and before the build when no display answers (a stale or silent DISPLAY, a stale socket).
TEST(RunScript, StopsBeforeInstallingOrBuildingWithoutAWritableDataFolderOrADisplayThatAnswers)
{
    const QTemporaryDir tree;
    XvfbServer stopped; // which takes connections and never answers
    ASSERT_TRUE(stopped.start()) << stopped.error().toStdString();
    stopped.freeze();
    const QByteArray staleSocket = QFile::encodeName(tree.filePath(QStringLiteral("wayland-stale")));
    const UniqueFd bound(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)); // which never listens
    sockaddr_un address {AF_UNIX, {}};
    qstrncpy(address.sun_path, staleSocket.constData(), sizeof address.sun_path);
    ASSERT_EQ(::bind(bound.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const QString installed = tree.filePath(QStringLiteral("installed")),
                  built = tree.filePath(QStringLiteral("built"));
    ASSERT_TRUE(QDir(tree.path()).mkpath(QStringLiteral("scripts")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/run.sh"),
                            tree.filePath(QStringLiteral("scripts/run.sh"))));
    for (const auto &[name, body] : {std::pair {"scripts/install-deps.sh", "touch '" + installed.toUtf8() + "'"},
                                     std::pair {"scripts/build-release.sh", "touch '" + built.toUtf8() + "'; exit 3"},
                                     std::pair {"a-file", QByteArray()}}) {
        QFile file(tree.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body + "\n");
    }
    const QString unwritable = tree.filePath(QStringLiteral("a-file/share"));
    const struct {
        QString dataHome;
        QByteArray display, platform, report; // no report: the copy goes on to its build
        QByteArray wayland = {};
    } rows[] = {
        {unwritable, ":299", "offscreen",
         "run.sh: Velmora's data folder " + unwritable.toUtf8()
             + "/com.tolvenix.Velmora can't be made or written: mkdir: "},
        {tree.path(), "", "",
         "run.sh: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"},
        {tree.path(), ":299", "",
         "run.sh: Velmora can't open a window: no X server answers at DISPLAY \":299\", and WAYLAND_DISPLAY \"\" "
         "names no Wayland socket.\n"},
        {tree.path(), stopped.display(), "",
         "run.sh: Velmora can't open a window: no X server answers at DISPLAY \"" + stopped.display()
             + "\" (it said nothing for 5 s), and WAYLAND_DISPLAY \"\" names no Wayland socket.\n"},
        {tree.path(), "", "",
         "run.sh: Velmora can't open a window: no X server answers at DISPLAY \"\", and WAYLAND_DISPLAY \""
             + staleSocket + "\" names no Wayland socket that answers (Connection refused).\n",
         staleSocket},
        {tree.path(), ":299", "offscreen", ""}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.display.toStdString() + " " + row.platform.toStdString());
        QFile::remove(installed);
        QFile::remove(built);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), row.dataHome);
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(row.display));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(row.platform));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromLocal8Bit(row.wayland));
        QProcess script;
        script.setProcessEnvironment(environment);
        script.start(QStringLiteral("bash"), {tree.filePath(QStringLiteral("scripts/run.sh"))});
        ASSERT_TRUE(script.waitForFinished(30000));
        EXPECT_NE(script.exitCode(), 0);
        const QByteArray error = script.readAllStandardError();
        EXPECT_TRUE(error.startsWith(row.report)) << error.toStdString();
        EXPECT_EQ(QFile::exists(installed), row.dataHome != unwritable);
        EXPECT_EQ(QFile::exists(built), row.report.isEmpty());
    }
}
