#include "support/WestonServer.h"

#include "support/Await.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <algorithm>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool acceptsClients(const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address {};
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::copy(path.cbegin(), path.cend(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

WestonServer::~WestonServer()
{
    if (m_weston.state() == QProcess::NotRunning)
        return;
    m_weston.terminate();
    if (!m_weston.waitForFinished(5000)) {
        m_weston.kill();
        m_weston.waitForFinished(5000);
    }
}

QByteArray WestonServer::log() const
{
    QFile file(m_runtime.filePath(QStringLiteral("weston.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll().right(2000) : QByteArray();
}

bool WestonServer::start(int timeoutMs)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("weston"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("weston is not installed");
        return false;
    }
    if (!m_runtime.isValid()) {
        m_error = QStringLiteral("no runtime folder for weston");
        return false;
    }
    const QString socketName = QStringLiteral("wayland-velmora-test");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    for (const char *name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    m_weston.setProcessEnvironment(environment);
    m_weston.setProcessChannelMode(QProcess::MergedChannels);
    m_weston.setStandardOutputFile(QProcess::nullDevice());
    m_weston.start(program, {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + socketName,
                             QStringLiteral("--idle-time=0"), QStringLiteral("--no-config"),
                             QStringLiteral("--log=") + m_runtime.filePath(QStringLiteral("weston.log"))});
    if (!m_weston.waitForStarted(5000)) {
        m_error = QStringLiteral("weston could not be started: ") + m_weston.errorString();
        return false;
    }
    const QString socket = m_runtime.filePath(socketName);
    const bool ready =
        waitUntil([&] { return m_weston.state() != QProcess::Running || acceptsClients(socket); }, timeoutMs);
    if (!ready || m_weston.state() != QProcess::Running) {
        m_error = (ready ? QStringLiteral("weston ended at start: ") : QStringLiteral("weston's socket did not come: "))
                  + QString::fromUtf8(log());
        return false;
    }
    m_socket = socket;
    return true;
}
