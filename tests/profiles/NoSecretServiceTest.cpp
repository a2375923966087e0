#include "profiles/KeychainProtectedKeyStore.h"
#include "profiles/KeychainSecretStore.h"
#include "records/ProtectedProfilesError.h"
#include "support/Await.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The keyring calls need a session bus the test controls, so they run in a
// child process: this same test, started again with this variable set.
constexpr char childMark[] = "VELMORA_NO_SECRET_SERVICE_CHILD";

// Each call must come back with the mapped error as soon as the bus answers,
// well inside the 25 seconds a D-Bus call waits for a reply.
constexpr qint64 promptMs = 25'000 / 2;

void expectFastFailure(const char *what, const std::function<void()> &call,
                       const std::function<void(const std::exception &)> &check)
{
    SCOPED_TRACE(what);
    QElapsedTimer timer;
    timer.start();
    try {
        call();
        ADD_FAILURE() << "succeeded without a Secret Service";
    } catch (const std::exception &error) {
        check(error);
    }
    EXPECT_LT(timer.elapsed(), promptMs);
}

void checkUnhandledNoService(const std::exception &thrown)
{
    const auto *error = dynamic_cast<const KeychainError *>(&thrown);
    ASSERT_NE(error, nullptr) << thrown.what();
    EXPECT_EQ(*error, KeychainError::unhandled(KeychainError::noSecretServiceStatus));
    EXPECT_EQ(error->fullMessage(),
              QStringLiteral("No keyring answers on the session bus. Velmora needs a running keyring that offers "
                             "the Secret Service (for example GNOME Keyring, or KWallet with its Secret Service "
                             "support). Start one, then try again."));
}

void runChildChecks()
{
    KeychainSecretStore store;
    const QString account = QStringLiteral("env.account");
    expectFastFailure(
        "read", [&] { store.readSecret(account); }, checkUnhandledNoService);
    expectFastFailure(
        "save", [&] { store.saveSecret(account, QStringLiteral("never-logged-secret")); },
        [](const std::exception &thrown) {
            checkUnhandledNoService(thrown);
            EXPECT_FALSE(QString::fromUtf8(thrown.what()).contains(QStringLiteral("never-logged")));
        });
    expectFastFailure(
        "delete", [&] { store.deleteSecret(account); }, checkUnhandledNoService);

    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(store.allAccounts().isEmpty());
    EXPECT_LT(timer.elapsed(), promptMs);

    KeychainProtectedKeyStore keys;
    expectFastFailure(
        "master key", [&] { (void)await(keys.loadOrCreateMasterKey()); },
        [](const std::exception &thrown) {
            const auto *error = dynamic_cast<const ProtectedProfilesError *>(&thrown);
            ASSERT_NE(error, nullptr) << thrown.what();
            EXPECT_EQ(*error,
                      ProtectedProfilesError::keychainAccessDenied(KeychainError::noSecretServiceStatus, QString()));
            EXPECT_TRUE(error->message().startsWith(
                QStringLiteral("Velmora could not access the encryption key in the keyring (-1): ")));
        });
}

// A session bus with nothing on it and nothing it could start.
QString writeEmptyBusConfig(const QTemporaryDir &folder)
{
    QString path = folder.filePath(QStringLiteral("empty-bus.conf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                   .arg(folder.path())
                   .toUtf8());
    return path;
}

TEST(NoSecretService, KeyringCallsFailFastWithTheMappedError)
{
    if (qEnvironmentVariableIsSet(childMark)) {
        runChildChecks();
        return;
    }

    const QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString config = writeEmptyBusConfig(folder);
    ASSERT_FALSE(config.isEmpty());
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList childArguments = {QStringLiteral("--gtest_filter=NoSecretService.*")};

    const struct {
        const char *what;
        QString program;
        QStringList arguments;
        QString busAddress; // empty: left to the program
    } worlds[] = {
        {"a bus without a Secret Service",
         QStringLiteral("dbus-run-session"),
         QStringList {QStringLiteral("--config-file=") + config, QStringLiteral("--"), self} + childArguments,
         {}},
        {"no bus at all", self, childArguments,
         QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("no-bus-here"))},
    };
    for (const auto &world : worlds) {
        SCOPED_TRACE(world.what);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(childMark), QStringLiteral("1"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        if (!world.busAddress.isEmpty())
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), world.busAddress);

        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(world.program, world.arguments);
        ASSERT_TRUE(child.waitForStarted(10000)) << qPrintable(child.errorString());
        const bool finished = child.waitForFinished(60000);
        if (!finished)
            child.kill();
        const QByteArray output = child.readAll();
        EXPECT_TRUE(finished) << "the child hung:\n" << output.constData();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.constData();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
    }
}

} // namespace
