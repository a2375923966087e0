// What the benchmark programs share: a scratch home, a service manager over
// stores in its data folder, ways to wait on the event loop, and text fill.
// Header-only: every bench/*.cpp is a program of its own.
#pragma once

#include "execution/ProcessLauncher.h"
#include "profiles/SecretStoring.h"
#include "records/ServiceRunRecord.h"
#include "support/ManagerStack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

// Points HOME, the data folder and the runtime folder at a scratch folder for
// as long as it lives, so that nothing touches the real home.
class ScratchHome {
public:
    ScratchHome()
    {
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + QStringLiteral("/data")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
    }

private:
    QTemporaryDir m_home;
};

// A scratch folder for the whole program, and a file in it.
inline QTemporaryDir &scratchFolder()
{
    static QTemporaryDir folder;
    return folder;
}

inline QString scratchPath(const char *name)
{
    return scratchFolder().path() + QLatin1Char('/') + QLatin1String(name);
}

// Runs the event loop until `done` holds. A slice (in ms) processes events in
// slices of that length rather than sleeping until the next one comes.
inline void spinUntil(const std::function<bool()> &done,
                      QEventLoop::ProcessEventsFlags flags = QEventLoop::WaitForMoreEvents, int slice = -1)
{
    while (!done()) {
        if (slice < 0)
            QCoreApplication::processEvents(flags);
        else
            QCoreApplication::processEvents(flags, slice);
    }
}

// Runs a task to its end on the event loop; a failure ends the wait as well.
inline void run(QCoro::Task<> task, QEventLoop::ProcessEventsFlags flags = QEventLoop::WaitForMoreEvents,
                int slice = -1)
{
    bool done = false;
    [](QCoro::Task<> inner, bool &finished) -> QCoro::Task<> {
        try {
            co_await std::move(inner);
        } catch (...) {}
        finished = true;
    }(std::move(task), done);
    spinUntil([&] { return done; }, flags, slice);
}

// A size field of /proc/self/status ("VmRSS:", "VmHWM:"), in KiB.
inline qint64 statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
inline void resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// The text `piece` repeated to exactly `length` units.
// A finished run as stored: 30 s long, with a plain and a secret variable.
inline ServiceRunRecord benchRunRecord(const QUuid &serviceId, qint64 started, const QString &output)
{
    ServiceRunRecord record;
    record.id = QUuid::createUuid();
    record.serviceId = serviceId;
    record.startedAt = QDateTime::fromSecsSinceEpoch(started, QTimeZone::utc());
    record.endedAt = record.startedAt.addSecs(30);
    record.pid = 40000;
    record.peakCpuPercent = 12.5;
    record.peakMemoryBytes = 1 << 30;
    record.environment = {{QStringLiteral("MODE"), QStringLiteral("release"), false},
                          ServiceRunEnvironmentEntry::forVariable(QStringLiteral("TOKEN"), QString(), true)};
    record.stopReason = ServiceRunStopReason::exited;
    record.exitCode = 0;
    record.output = output;
    return record;
}

inline QString repeatedTo(const QString &piece, qsizetype length)
{
    QString text;
    text.reserve(length + piece.size());
    while (text.size() < length)
        text += piece;
    text.truncate(length);
    return text;
}

// A shell command run on a pseudo-terminal, as the service manager runs one.
inline ProcessLaunchConfiguration shellOnTerminal(const QString &command)
{
    ProcessLaunchConfiguration configuration;
    configuration.rawCommand = command;
    configuration.useShell = true;
    configuration.shellPath = QStringLiteral("/bin/sh");
    configuration.usePseudoTerminal = true;
    return configuration;
}

// How late a 10 ms timer fires on the main thread while a run goes on.
class TimerLatency {
public:
    TimerLatency()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worstDelayNs = std::max(m_worstDelayNs, now - m_last - 10'000'000);
            m_last = now;
        });
        m_clock.start();
        m_last = m_clock.nsecsElapsed();
        m_timer.start();
    }
    double worstDelayMs() const { return double(m_worstDelayNs) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worstDelayNs = 0;
};

// Idle processes that make the machine look like a busy desktop, in a process
// group of their own, ended and reaped when this goes.
class IdleProcesses {
public:
    explicit IdleProcesses(int count)
    {
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        char program[] = "sleep";
        char duration[] = "3600";
        char *arguments[] = {program, duration, nullptr};
        char *environment[] = {nullptr};
        for (int index = 0; index < count; ++index) {
            posix_spawnattr_setpgroup(&attributes, m_group);
            pid_t pid = 0;
            if (posix_spawnp(&pid, program, nullptr, &attributes, arguments, environment) != 0)
                break;
            if (m_group == 0)
                m_group = pid;
            m_pids.push_back(pid);
        }
        posix_spawnattr_destroy(&attributes);
    }
    ~IdleProcesses()
    {
        if (m_group > 0)
            ::kill(-m_group, SIGKILL);
        for (const pid_t pid : m_pids)
            ::waitpid(pid, nullptr, 0);
    }
    IdleProcesses(const IdleProcesses &) = delete;
    IdleProcesses &operator=(const IdleProcesses &) = delete;

    int count() const { return int(m_pids.size()); }

private:
    pid_t m_group = 0;
    std::vector<pid_t> m_pids;
};

// No secrets are read here; the keyring stays untouched.
class NoSecrets final : public SecretStoring {
public:
    std::optional<QString> readSecret(const QString &) override { return std::nullopt; }
    void saveSecret(const QString &, const QString &) override {}
    void deleteSecret(const QString &) override {}
    QStringList allAccounts() override { return {}; }
};

// A service manager over stores in the scratch data folder, with /bin/sh as
// its shell, that never reads the keyring.
struct Supervisor : ManagerStack {
    Supervisor()
        : ManagerStack({std::make_shared<NoSecrets>(), nullptr, nullptr, nullptr})
    {}

    ManagedService add(const QString &name, const QString &command)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const ManagedService service {QUuid::createUuid(), name, command, false, std::nullopt, now, now};
        run(manager.saveService(service));
        return service;
    }

    // Starts the service and waits until its run has ended and is booked.
    void runToEnd(const QUuid &id)
    {
        run(manager.start(id));
        spinUntil([&] { return manager.launchedHandles().isEmpty() && !history.activeDraft(id); });
    }

    // Kills every child outright, then lets the manager book the stops.
    void killAll()
    {
        for (const auto &handle : manager.launchedHandles())
            handle->signalProcessGroup(SIGKILL);
        run(manager.stopAll(true));
    }
};
