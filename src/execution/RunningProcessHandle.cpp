#include "execution/RunningProcessHandle.h"

#include "execution/Utf8StreamDecoder.h"
#include "platform/Pidfd.h"
#include "platform/ProcessTermination.h"
#include "platform/ThreadPriority.h"
#include "records/OutputTextBuffer.h"

#include <QCoreApplication>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;

// Reads per wake-up and per stream, so one busy stream cannot starve the others
// or the pidfd.
constexpr int readsPerWakeUp = 16;
// What may still be read after the child exited. More than the terminal and
// pipe buffers hold: anything beyond it comes from a descendant that keeps
// writing, which must not keep the exit from being reported.
constexpr int readsAfterExit = 128;

struct OutputStream {
    UniqueFd fd;
    Utf8StreamDecoder decoder;
    bool reading = true;
};

} // namespace

struct RunningProcessHandle::Shared : std::enable_shared_from_this<Shared> {
    Shared(pid_t childPid, UniqueFd childPidfd, bool isPseudoTerminal)
        : pid(childPid),
          pseudoTerminal(isPseudoTerminal),
          wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          pidfd(std::move(childPidfd))
    {}

    const pid_t pid;
    const bool pseudoTerminal;
    const UniqueFd wake;

    mutable std::mutex lock;
    mutable std::condition_variable finishedChanged;
    // Guarded by lock.
    OutputTextBuffer collected {outputCutAbove, outputKeep};
    // Units appended to `collected` since the last hand-over: the text to hand
    // over next is its tail of that length, unless a cut reached into it.
    qsizetype pendingUnits = 0;
    OutputHandler onOutput;
    ExitHandler onExit;
    bool handOverQueued = false;
    Clock::time_point lastHandOver {};
    int masterFd = -1; // the terminal master while the handle owns it
    UniqueFd pidfd;    // polled by the watcher; closed under lock once reaped
    std::optional<ProcessExitStatus> status;
    bool finished = false; // reaped and transport closed
    bool exitHandedOver = false;
    bool released = false;

    // The watcher thread's alone.
    std::vector<OutputStream> streams;

    void watch();
    static void deliver(const std::weak_ptr<Shared> &weak);
    int appendOutput(const QString &text);

private:
    void queueHandOver();
    bool isReleased() const;
    void closeTransport();
    void waitForChildExit() const;
    void finish();
};

namespace {

enum class ReadUntil { shortRead, empty };

// Reads the stream at most `reads` times. While the child runs a short read
// ends the turn: the stream had no more at that moment, and no read is spent
// on learning that again. After the exit it is read until empty, since the
// terminal may hand over what it still buffers one piece at a time. End of
// file, or EIO from a terminal master whose slave side is gone, ends the
// stream for good.
void readStream(OutputStream &stream, int reads, ReadUntil until, QString &text)
{
    std::array<char, RunningProcessHandle::readSize> buffer;
    while (stream.reading && reads > 0) {
        const ssize_t count = ::read(stream.fd.get(), buffer.data(), buffer.size());
        if (count > 0) {
            text.append(stream.decoder.decode(buffer.data(), count));
            if (until == ReadUntil::shortRead && size_t(count) < buffer.size())
                return;
            --reads;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return;
        stream.reading = false;
        text.append(stream.decoder.finish());
    }
}

ProcessExitStatus reap(int pidfd)
{
    siginfo_t info {};
    int result = 0;
    do {
        result = ::waitid(P_PIDFD, id_t(pidfd), &info, WEXITED);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return {false, -1}; // reaped behind our back: the status is unknown
    if (info.si_code == CLD_EXITED)
        return {false, info.si_status};
    return {true, info.si_status};
}

} // namespace

void RunningProcessHandle::Shared::queueHandOver()
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application, [weak = weak_from_this()] { deliver(weak); }, Qt::QueuedConnection);
}

// Main thread: hands the text gathered since the last hand-over to the output
// handler and, once the child is gone, the exit status to the exit handler.
void RunningProcessHandle::Shared::deliver(const std::weak_ptr<Shared> &weak)
{
    const std::shared_ptr<Shared> shared = weak.lock();
    if (!shared)
        return;
    std::unique_lock guard(shared->lock);
    shared->handOverQueued = false;
    shared->lastHandOver = Clock::now();
    if (shared->released)
        return;
    const QString &collected = shared->collected.text();
    const bool skipped = shared->pendingUnits > collected.size();
    const QString text = skipped ? collected : collected.right(shared->pendingUnits);
    shared->pendingUnits = 0;
    OutputHandler outputHandler = shared->onOutput;
    std::optional<ProcessExitStatus> exit;
    ExitHandler exitHandler;
    if (shared->finished && !shared->exitHandedOver) {
        shared->exitHandedOver = true;
        exit = shared->status;
        exitHandler = std::move(shared->onExit);
        // Nothing follows the exit: handlers that hold the handle let it go.
        shared->onOutput = nullptr;
        shared->onExit = nullptr;
    }
    guard.unlock();

    if (outputHandler && !text.isEmpty())
        outputHandler(text, skipped);
    if (exit && exitHandler)
        exitHandler(*exit);
}

// Adds what the watcher read, queues a hand-over when one is due, and returns
// how long the next poll may sleep before a held-back hand-over falls due.
int RunningProcessHandle::Shared::appendOutput(const QString &text)
{
    bool queue = false;
    int timeout = -1;
    {
        std::lock_guard guard(lock);
        if (!text.isEmpty()) {
            collected.append(text);
            pendingUnits += text.size();
        }
        if (!released && !handOverQueued && pendingUnits > 0) {
            const auto wait = lastHandOver + handOverInterval - Clock::now();
            if (wait <= Clock::duration::zero()) {
                handOverQueued = true;
                queue = true;
            } else {
                timeout = int(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
            }
        }
    }
    if (queue)
        queueHandOver();
    return timeout;
}

bool RunningProcessHandle::Shared::isReleased() const
{
    std::lock_guard guard(lock);
    return released;
}

void RunningProcessHandle::Shared::closeTransport()
{
    {
        std::lock_guard guard(lock);
        masterFd = -1;
    }
    streams.clear();
}

void RunningProcessHandle::Shared::waitForChildExit() const
{
    pollfd exitPoll {pidfd.get(), POLLIN, 0};
    while (::poll(&exitPoll, 1, -1) < 0 && errno == EINTR) {}
}

// Reaps the child under the lock, so a signal sent to its group under the same
// lock can never reach a group that reuses the id.
void RunningProcessHandle::Shared::finish()
{
    bool queue = false;
    {
        std::lock_guard guard(lock);
        status = reap(pidfd.get());
        pidfd.reset();
        finished = true;
        queue = !released && !handOverQueued;
        if (queue)
            handOverQueued = true;
    }
    finishedChanged.notify_all();
    if (queue)
        queueHandOver();
}

void RunningProcessHandle::Shared::watch()
{
    makeCurrentThreadUtility("velmora-child");
    std::vector<pollfd> polls;
    bool exited = false;
    int timeout = -1;
    while (!exited) {
        polls.clear();
        polls.push_back({wake.get(), POLLIN, 0});
        polls.push_back({pidfd.get(), POLLIN, 0});
        for (const OutputStream &stream : streams)
            polls.push_back({stream.reading ? stream.fd.get() : -1, POLLIN, 0});

        const int ready = ::poll(polls.data(), nfds_t(polls.size()), timeout);
        if (ready < 0 && errno != EINTR)
            break; // cannot watch any more: wait for the exit below
        // The handle's release, or a note held back, wakes the watcher.
        if (polls[0].revents != 0) {
            if (isReleased()) {
                closeTransport();
                waitForChildExit();
                finish();
                return;
            }
            eventfd_t ignored = 0;
            ::eventfd_read(wake.get(), &ignored);
        }
        exited = (polls[1].revents & POLLIN) != 0;
        QString text;
        for (size_t index = 0; index < streams.size(); ++index) {
            if (polls[index + 2].revents != 0)
                readStream(streams[index], readsPerWakeUp, ReadUntil::shortRead, text);
        }
        timeout = appendOutput(text);
    }

    // The child is gone: whatever it wrote is in the transport now.
    QString rest;
    for (OutputStream &stream : streams) {
        readStream(stream, readsAfterExit, ReadUntil::empty, rest);
        if (stream.reading)
            rest.append(stream.decoder.finish());
    }
    appendOutput(rest);
    closeTransport();
    waitForChildExit();
    finish();
}

RunningProcessHandle::RunningProcessHandle(std::shared_ptr<Shared> shared)
    : m_shared(std::move(shared))
{}

std::shared_ptr<RunningProcessHandle> RunningProcessHandle::start(pid_t pid, UniqueFd pidfd,
                                                                  std::vector<UniqueFd> outputs, bool pseudoTerminal)
{
    auto shared = std::make_shared<Shared>(pid, std::move(pidfd), pseudoTerminal);
    if (!shared->wake.isValid())
        throw std::system_error(errno, std::generic_category(), "eventfd");
    for (UniqueFd &fd : outputs)
        shared->streams.push_back({std::move(fd), {}, true});
    if (pseudoTerminal && !shared->streams.empty())
        shared->masterFd = shared->streams.front().fd.get();
    std::shared_ptr<RunningProcessHandle> handle(new RunningProcessHandle(shared));
    handle->m_watcher = std::thread([shared] { shared->watch(); });
    return handle;
}

RunningProcessHandle::~RunningProcessHandle()
{
    OutputHandler outputHandler;
    ExitHandler exitHandler;
    bool finished = false;
    {
        std::lock_guard lock(m_shared->lock);
        m_shared->released = true;
        outputHandler = std::move(m_shared->onOutput);
        exitHandler = std::move(m_shared->onExit);
        m_shared->onOutput = nullptr;
        m_shared->onExit = nullptr;
        finished = m_shared->finished;
    }
    ::eventfd_write(m_shared->wake.get(), 1);
    if (!m_watcher.joinable())
        return;
    // A watcher whose child still runs goes on until it can reap it.
    if (finished && m_watcher.get_id() != std::this_thread::get_id())
        m_watcher.join();
    else
        m_watcher.detach();
}

pid_t RunningProcessHandle::processIdentifier() const
{
    return m_shared->pid;
}

bool RunningProcessHandle::usesPseudoTerminal() const
{
    return m_shared->pseudoTerminal;
}

bool RunningProcessHandle::isRunning() const
{
    std::lock_guard lock(m_shared->lock);
    if (m_shared->status || !m_shared->pidfd.isValid())
        return false;
    pollfd exitPoll {m_shared->pidfd.get(), POLLIN, 0};
    return ::poll(&exitPoll, 1, 0) == 0;
}

std::optional<ProcessExitStatus> RunningProcessHandle::exitStatus() const
{
    std::lock_guard lock(m_shared->lock);
    return m_shared->status;
}

bool RunningProcessHandle::signalProcess(int signalNumber) const
{
    std::lock_guard lock(m_shared->lock);
    if (m_shared->status || !m_shared->pidfd.isValid())
        return false;
    return Pidfd::sendSignal(m_shared->pidfd.get(), signalNumber);
}

bool RunningProcessHandle::signalProcessGroup(int signalNumber) const
{
    std::lock_guard lock(m_shared->lock);
    // Until it is reaped the child holds its id, and with it the group's id.
    if (m_shared->status)
        return false;
    return signalProcessGroupById(m_shared->pid, signalNumber);
}

void RunningProcessHandle::setOutputHandler(const OutputHandler &handler)
{
    OutputHandler previous;
    QString collected;
    {
        std::lock_guard lock(m_shared->lock);
        previous = std::move(m_shared->onOutput);
        m_shared->onOutput = m_shared->exitHandedOver ? nullptr : handler;
        collected = m_shared->collected.text();
        m_shared->pendingUnits = 0;
    }
    if (handler && !collected.isEmpty())
        handler(collected, false);
}

void RunningProcessHandle::setExitHandler(const ExitHandler &handler)
{
    ExitHandler previous;
    std::optional<ProcessExitStatus> alreadyHandedOver;
    {
        std::lock_guard lock(m_shared->lock);
        previous = std::move(m_shared->onExit);
        if (m_shared->exitHandedOver)
            alreadyHandedOver = m_shared->status;
        else
            m_shared->onExit = handler;
    }
    if (handler && alreadyHandedOver)
        handler(*alreadyHandedOver);
}

ProcessExitStatus RunningProcessHandle::waitUntilExit() const
{
    std::unique_lock lock(m_shared->lock);
    m_shared->finishedChanged.wait(lock, [this] { return m_shared->finished; });
    return *m_shared->status;
}

void RunningProcessHandle::appendNote(const QString &text) const
{
    if (m_shared->appendOutput(text) >= 0)
        ::eventfd_write(m_shared->wake.get(), 1);
}

QString RunningProcessHandle::collectedOutput() const
{
    std::lock_guard lock(m_shared->lock);
    return m_shared->collected.text();
}

bool RunningProcessHandle::writeToTerminal(QByteArrayView bytes) const
{
    std::lock_guard lock(m_shared->lock);
    if (m_shared->masterFd < 0 || bytes.isEmpty())
        return false;
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_shared->masterFd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}
