#pragma once

#include "execution/ServiceManagerError.h"
#include "execution/ServiceProcessTermination.h"
#include "support/Await.h"
#include "support/ChildOutputRecorder.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"
#include "support/FakeSecretStore.h"
#include "support/FakeTerminalLauncher.h"
#include "support/ManagerStack.h"

#include <QDir>

#include <gtest/gtest.h>

// Reaches into the manager where a test must stage what real runs produce
// only by bad luck.
class ServiceManagerTestAccess {
public:
    // The child runs on, but its exit report never reaches the manager.
    static void loseExitReport(ServiceManager &manager, const QUuid &serviceId)
    {
        const auto handle = manager.m_launchedHandles.take(serviceId);
        manager.m_pendingExits.remove(handle.get());
    }
    // Publishes `text` as the service's live output, as a child writing it
    // would: a continuation of the published text is appended, any other
    // text replaces it.
    static void publishOutput(ServiceManager &manager, const QUuid &serviceId, const QString &text)
    {
        const QString published = manager.liveOutput(serviceId).text;
        const bool continues = text.startsWith(published);
        manager.m_output.append(serviceId, continues ? text.mid(published.size()) : text, !continues);
        manager.m_output.publish();
    }
    // Whether the child's exit report has reached the manager.
    static bool exitReportDelivered(const ServiceManager &manager, const RunningProcessHandle &handle)
    {
        return !manager.m_pendingExits.contains(&handle);
    }
};

// A stop sequence's waits in milliseconds; one that ends on the kill may take what a busy machine adds to them too
// (a timer fires late, a sweep of /proc or an exit takes longer).
inline constexpr qint64 graceMs = ServiceProcessTermination::interruptGracePeriod.count(),
                        exitWaitMs = ServiceProcessTermination::exitWaitTimeout.count(),
                        killedWithinMs = exitWaitMs + ServiceProcessTermination::killWaitTimeout.count() + 2000;

// The fakes a test gives the managers: keyring, password prompt, master
// key and terminal emulator.
struct FakePlatformLayers {
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    std::shared_ptr<FakeAuthenticator> authenticator = std::make_shared<FakeAuthenticator>();
    std::shared_ptr<FakeProtectedKeyProvider> keys = std::make_shared<FakeProtectedKeyProvider>();
    std::shared_ptr<FakeTerminalLauncher> terminal = std::make_shared<FakeTerminalLauncher>();
};

// A manager over real stores in the test's data folder, real children run by
// /bin/sh, fake authentication and keys, and a fake terminal launcher.
struct ServiceManagerTest : ::testing::Test, FakePlatformLayers, ManagerStack {
    // Secret values go to `keyring` when one is given, else to the fake store.
    explicit ServiceManagerTest(const std::shared_ptr<SecretStoring> &keyring = nullptr)
        : ManagerStack({keyring ? keyring : secrets, authenticator, keys, terminal})
    {}

    ~ServiceManagerTest() override
    {
        // No child of a test outlives it.
        for (const auto &handle : manager.launchedHandles())
            handle->signalProcessGroup(SIGKILL);
        // A stop's sweep runs on after the stop returns; left pending, it
        // would outlive the manager it reports to.
        await(manager.waitForStopSequences(), 10000);
    }

    ManagedService addService(const QString &name, const QString &command,
                              std::optional<QUuid> profileId = std::nullopt, bool openInTerminal = false)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        ManagedService service {QUuid::createUuid(), name, command, openInTerminal, profileId, now, now};
        await(manager.saveService(service));
        return *manager.service(service.id);
    }

    static EnvironmentVariable variable(const char *key, const char *value, bool isSecret = false)
    {
        return {QUuid::createUuid(), QString::fromUtf8(key), QString::fromUtf8(value), isSecret};
    }
    // A profile saved as the profiles screen saves it.
    EnvironmentProfile saveProfile(const QString &name, QList<EnvironmentVariable> variables, bool isProtected)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const EnvironmentProfile profile {QUuid::createUuid(), name, std::move(variables), isProtected, now, now};
        await(profiles.saveProfile(profile));
        return profile;
    }

    ServiceRuntimeInfo entry(const QUuid &id) const { return manager.runtime().value(id); }
    bool running(const QUuid &id) const { return entry(id).state == ServiceLifecycleState::running; }
    std::shared_ptr<RunningProcessHandle> handle(const QUuid &id) const { return manager.launchedHandles().value(id); }
    QList<ServiceRunRecord> runs(const QUuid &id) const { return history.records(id); }
    // A recorded run's output, wherever it is kept by now.
    QString outputOf(const ServiceRunRecord &run) { return await(history.runOutput(run.id)); }

    // Waits for the exit of the service's child to be booked.
    bool waitForStopped(const QUuid &id, int timeoutMs = 20000)
    {
        return waitUntil([&] { return !running(id) && !history.activeDraft(id); }, timeoutMs);
    }
    // Waits until the service's live output shows `fragment`.
    bool waitForOutput(const QUuid &id, const QString &fragment, int timeoutMs = 10000)
    {
        return waitUntil([&] { return entry(id).processOutput.contains(fragment); }, timeoutMs);
    }
};

// The live processes (zombies aside) of a process group.
inline QList<qint32> processGroupMembers(qint32 group)
{
    QList<qint32> members;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        const qint32 pid = name.toInt(&numeric);
        if (!numeric)
            continue;
        const QStringList fields = ChildProcessProbe::statFields(pid);
        if (fields.size() > 2 && fields[2].toInt() == group && fields[0] != QStringLiteral("Z"))
            members.append(pid);
    }
    return members;
}

// The live processes (zombies aside) of a session, each with its process group.
inline QHash<qint32, qint32> sessionMembers(qint32 session)
{
    QHash<qint32, qint32> members;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        const qint32 pid = name.toInt(&numeric);
        if (!numeric)
            continue;
        const QStringList fields = ChildProcessProbe::statFields(pid);
        if (fields.size() > 3 && fields[3].toInt() == session && fields[0] != QStringLiteral("Z"))
            members.insert(pid, fields[2].toInt());
    }
    return members;
}

// A coroutine left running while the test goes on; `done` once it finished.
struct BackgroundTask {
    bool done = false;
    std::exception_ptr error;
};

inline QCoro::Task<> runInBackground(QCoro::Task<> task, std::shared_ptr<BackgroundTask> state)
{
    try {
        co_await std::move(task);
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
}

template <typename Operation>
std::optional<ServiceManagerError::Case> serviceErrorCase(Operation &&operation, QString *message = nullptr)
{
    try {
        operation();
    } catch (const ServiceManagerError &error) {
        if (message)
            *message = error.message();
        return error.errorCase();
    }
    ADD_FAILURE() << "no ServiceManagerError was thrown";
    return std::nullopt;
}
