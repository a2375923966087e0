#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <csignal>

#include <sys/types.h>

// A private Xvfb server for tests that need a real X display. It picks a free
// display number itself (-displayfd) and is stopped when the object goes.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Starts the server, with `arguments` added to its own, and waits up to
    // `timeoutMs` until it accepts clients. False, with `error()` saying why,
    // when no server could be started.
    bool start(int timeoutMs = 15000, const QList<QByteArray> &arguments = {});

    // Stops the server where it is, as a stopped X server or a stalled ssh -X forward: the kernel still takes
    // connections to it, and none is ever answered.
    void freeze() const { ::kill(m_pid, SIGSTOP); }

    QByteArray display() const { return m_display; }
    QString error() const { return m_error; }

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
    QByteArray m_display;
    QString m_error;
};
