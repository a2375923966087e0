#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

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
