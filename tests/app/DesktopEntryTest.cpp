#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

// scripts/run.sh stops before it installs or builds anything when the data
// home cannot be written or there is no display. A copy runs, whose install
// step and cmake only leave a mark.
TEST(RunScript, StopsBeforeBuildingWithoutAWritableDataHomeOrADisplay)
{
    const QTemporaryDir tree;
    const QString mark = tree.filePath(QStringLiteral("began"));
    ASSERT_TRUE(QDir(tree.path()).mkpath(QStringLiteral("scripts")) && QDir(tree.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/run.sh"),
                            tree.filePath(QStringLiteral("scripts/run.sh"))));
    for (const char *name : {"scripts/install-deps.sh", "bin/cmake", "a-file"}) {
        QFile file(tree.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\ntouch '" + mark.toUtf8() + "'; exit 3\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString unwritable = tree.filePath(QStringLiteral("a-file/share"));
    const struct {
        QString dataHome;
        const char *display;
        QByteArray report; // none: the copy goes on to its build
    } rows[] = {
        {unwritable, ":0",
         "run.sh: " + unwritable.toUtf8()
             + " can't be written, and Velmora keeps its data and its desktop entry there.\n"},
        {tree.path(), "", "run.sh: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"},
        {tree.path(), ":0", {}},
    };
    for (const auto &row : rows) {
        QFile::remove(mark);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), row.dataHome);
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(row.display));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("PATH"),
                           tree.filePath(QStringLiteral("bin:")) + qEnvironmentVariable("PATH"));
        QProcess script;
        script.setProcessEnvironment(environment);
        script.start(QStringLiteral("bash"), {tree.filePath(QStringLiteral("scripts/run.sh"))});
        ASSERT_TRUE(script.waitForFinished(30000));
        EXPECT_NE(script.exitCode(), 0);
        EXPECT_EQ(script.readAllStandardError(), row.report);
        EXPECT_EQ(QFile::exists(mark), row.report.isEmpty()) << row.report.toStdString();
    }
}
