#include "platform/DisplayProbe.h"

#include "platform/UniqueFd.h"

#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// libxcb writes an X server's refusal (its reason, without a line end)
// straight to standard error; caught here, it becomes part of the one line
// Velmora prints. Only for the start, while no other thread writes there.
class StandardErrorCapture {
public:
    StandardErrorCapture()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_readEnd.reset(ends[0]);
        const UniqueFd writeEnd(ends[1]);
        m_saved.reset(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0));
        if (m_saved.get() < 0 || ::dup2(writeEnd.get(), STDERR_FILENO) < 0)
            m_saved.reset();
    }
    StandardErrorCapture(const StandardErrorCapture &) = delete;
    StandardErrorCapture &operator=(const StandardErrorCapture &) = delete;
    ~StandardErrorCapture() { restore(); }

    QByteArray finish()
    {
        restore();
        QByteArray caught;
        char buffer[512];
        ssize_t count = 0;
        while (m_readEnd.get() >= 0 && (count = ::read(m_readEnd.get(), buffer, sizeof buffer)) > 0)
            caught.append(buffer, count);
        return caught.trimmed();
    }

private:
    void restore()
    {
        if (m_saved.get() >= 0)
            ::dup2(m_saved.get(), STDERR_FILENO);
        m_saved.reset();
    }

    UniqueFd m_readEnd;
    UniqueFd m_saved;
};

QString x11Reason(int error, const QByteArray &refusal)
{
    if (!refusal.isEmpty())
        return QStringLiteral("the X server refused the connection: ") + QString::fromLocal8Bit(refusal);
    switch (error) {
    case XCB_CONN_CLOSED_PARSE_ERR:
        return QStringLiteral("that is not a display name");
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return QStringLiteral("the X server has no such screen");
    case XCB_CONN_ERROR:
        return QStringLiteral("no X server listens there");
    default:
        return QStringLiteral("the connection failed (error %1)").arg(error);
    }
}

// A stopped X server, or an ssh -X display whose far end stopped, takes the
// connection and never answers, and xcb_connect has no time limit of its own.
constexpr std::chrono::seconds x11AnswerLimit {5};

// Shared with the thread that connects, which outlives the question when the
// display is given up on: it then closes whatever connection it gets late.
struct X11Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool givenUp = false;
    xcb_connection_t *connection = nullptr;
};

} // namespace

void DisplayProbe::X11Disconnect::operator()(xcb_connection_t *connection) const
{
    xcb_disconnect(connection);
}

DisplayProbe::X11Answer DisplayProbe::askX11(const QByteArray &display)
{
    StandardErrorCapture capture;
    const auto attempt = std::make_shared<X11Attempt>();
    try {
        // Detached: a thread stuck in xcb_connect must not keep the process
        // from ending, nor from going on with another display.
        std::thread([attempt, display] {
            xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
            const std::lock_guard lock(attempt->mutex);
            if (attempt->givenUp) {
                xcb_disconnect(connection);
                return;
            }
            attempt->connection = connection;
            attempt->done = true;
            attempt->finished.notify_one();
        }).detach();
    } catch (const std::system_error &error) {
        capture.finish();
        return {nullptr, QStringLiteral("it couldn’t be asked: ") + QString::fromLocal8Bit(error.what())};
    }
    std::unique_lock lock(attempt->mutex);
    if (!attempt->finished.wait_for(lock, x11AnswerLimit, [&] { return attempt->done; })) {
        attempt->givenUp = true;
        lock.unlock();
        capture.finish();
        // Whether it took the connection is not known here: xcb_connect makes it.
        return {nullptr, QStringLiteral("it said nothing for %1 s").arg(x11AnswerLimit.count())};
    }
    X11Connection connection(attempt->connection);
    lock.unlock();
    const int error = xcb_connection_has_error(connection.get());
    if (error != 0)
        connection.reset();
    const QByteArray refusal = capture.finish();
    if (error == 0)
        return {std::move(connection), {}};
    return {nullptr, x11Reason(error, refusal)};
}

std::optional<QString> DisplayProbe::waylandFailure(const QByteArray &display, const QByteArray &runtimeFolder)
{
    QByteArray path = display;
    if (!path.startsWith('/')) {
        if (runtimeFolder.isEmpty())
            return QStringLiteral("XDG_RUNTIME_DIR, the folder of its socket, is not set");
        path = runtimeFolder + '/' + display;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return QStringLiteral("the path of its socket is too long");
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int result = -1;
    do {
        result = ::connect(socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return std::nullopt;
    return QString::fromLocal8Bit(std::strerror(errno));
}
