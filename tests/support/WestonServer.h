#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private Wayland compositor (weston's headless backend, without XWayland)
// for tests that start the real binary on Wayland. Its socket lies in a
// runtime folder of its own; clients reach it through the absolute path in
// `waylandDisplay()`. Stopped when the object goes.
class WestonServer {
public:
    WestonServer() = default;
    ~WestonServer();
    WestonServer(const WestonServer &) = delete;
    WestonServer &operator=(const WestonServer &) = delete;

    // Starts weston and waits up to `timeoutMs` until its socket takes
    // clients. False, with `error()` saying why, when it could not start.
    bool start(int timeoutMs = 15000);

    QString waylandDisplay() const { return m_socket; }
    QString error() const { return m_error; }

private:
    QByteArray log() const;

    QTemporaryDir m_runtime;
    QProcess m_weston;
    QString m_socket;
    QString m_error;
};
