#include "support/XvfbServer.h"

#include "platform/ProcessSpawn.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

XvfbServer::~XvfbServer()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    ::kill(m_pid, SIGCONT); // should it be frozen
    siginfo_t info {};
    while (::waitid(P_PIDFD, id_t(m_pidfd), &info, WEXITED) != 0 && errno == EINTR) {}
    ::close(m_pidfd);
}

bool XvfbServer::start(int timeoutMs, const QList<QByteArray> &arguments)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("Xvfb is not installed");
        return false;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("no pipe");
        return false;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    UniqueFd quiet(::open("/dev/null", O_WRONLY | O_CLOEXEC));

    ProcessSpawnRequest request;
    request.program = QFile::encodeName(program);
    // The server writes its display number to standard output once it is ready.
    request.arguments = {request.program, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"};
    request.arguments += arguments;
    for (char **entry = environ; *entry; ++entry)
        request.environment.append(QByteArray(*entry));
    request.standardOutput = writeEnd.get();
    request.standardError = quiet.get();
    SpawnedProcess server = spawnProcess(request);
    if (!server.started()) {
        m_error = QStringLiteral("Xvfb could not be started: ") + qt_error_string(server.error);
        return false;
    }
    m_pid = server.pid;
    m_pidfd = server.pidfd.release();
    writeEnd.reset();

    QByteArray number;
    pollfd ready {readEnd.get(), POLLIN, 0};
    while (!number.endsWith('\n')) {
        if (::poll(&ready, 1, timeoutMs) <= 0) {
            m_error = QStringLiteral("Xvfb did not report a display in time");
            return false;
        }
        char buffer[16];
        const ssize_t count = ::read(readEnd.get(), buffer, sizeof buffer);
        if (count <= 0) {
            m_error = QStringLiteral("Xvfb exited without a display");
            return false;
        }
        number.append(buffer, count);
    }
    m_display = ':' + number.trimmed();
    return true;
}
