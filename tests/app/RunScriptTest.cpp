#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void writeScript(const QString &path, const QByteArray &text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

// scripts/run.sh stops before it installs or builds anything when the data
// home cannot be written or there is no display. It runs from a copy whose
// dependency step and cmake only leave a mark.
TEST(RunScript, StopsBeforeBuildingWithoutAWritableDataHomeOrADisplay)
{
    QTemporaryDir tree;
    ASSERT_TRUE(QDir(tree.path()).mkpath(QStringLiteral("scripts")));
    ASSERT_TRUE(QDir(tree.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/run.sh"),
                            tree.filePath(QStringLiteral("scripts/run.sh"))));
    const QString mark = tree.filePath(QStringLiteral("began"));
    ASSERT_NO_FATAL_FAILURE(writeScript(tree.filePath(QStringLiteral("scripts/install-deps.sh")),
                                        "touch '" + mark.toUtf8() + "'; exit 3\n"));
    ASSERT_NO_FATAL_FAILURE(
        writeScript(tree.filePath(QStringLiteral("bin/cmake")), "#!/bin/sh\ntouch '" + mark.toUtf8() + "'; exit 3\n"));
    ASSERT_NO_FATAL_FAILURE(writeScript(tree.filePath(QStringLiteral("a-file")), "x"));

    const QString unwritable = tree.filePath(QStringLiteral("a-file/share"));
    const struct {
        const char *name;
        QString dataHome;
        const char *display;
        QByteArray report; // empty: goes on to build
    } rows[] = {
        {"data home below a file", unwritable, ":0",
         "run.sh: " + unwritable.toUtf8()
             + " can't be written, and Velmora keeps its data and its desktop entry there.\n"},
        {"no display", tree.filePath(QStringLiteral("share")), "",
         "run.sh: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"},
        {"both there", tree.filePath(QStringLiteral("share")), ":0", {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(mark);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), row.dataHome);
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(row.display));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("PATH"),
                           tree.filePath(QStringLiteral("bin:")) + environment.value(QStringLiteral("PATH")));
        QProcess script;
        script.setProcessEnvironment(environment);
        script.start(QStringLiteral("bash"), {tree.filePath(QStringLiteral("scripts/run.sh"))});
        ASSERT_TRUE(script.waitForFinished(30000));
        EXPECT_NE(script.exitCode(), 0);
        if (row.report.isEmpty()) {
            EXPECT_TRUE(QFile::exists(mark)) << "the copy did not reach its build step";
            continue;
        }
        EXPECT_EQ(script.readAllStandardError(), row.report);
        EXPECT_FALSE(QFile::exists(mark)) << "began to install or build";
    }
}
