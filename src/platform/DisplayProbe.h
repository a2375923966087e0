#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct xcb_connection_t;

// Asks whether a window system answers where Qt would connect, before Qt
// tries: Qt ends in an abort that blames the installation when none does.
namespace DisplayProbe {

struct X11Disconnect {
    void operator()(xcb_connection_t *connection) const;
};
// Held open until Qt has a connection of its own: when its last client
// leaves, an X server resets (or ends, when started with -terminate), and a
// connection made meanwhile fails.
using X11Connection = std::unique_ptr<xcb_connection_t, X11Disconnect>;

struct X11Answer {
    X11Connection connection; // open when the display answered
    QString failure;          // why it did not, otherwise
};

// Opens a whole connection to the X display `display` (as in DISPLAY), so a
// server that refuses this user's authorisation counts as not answering, and
// so does one that says nothing for 5 s (the connection is then left to a
// thread that closes it if it ever completes).
X11Answer askX11(const QByteArray &display);

// Connects to the Wayland display `display` (as in WAYLAND_DISPLAY: a socket
// name under `runtimeFolder`, or an absolute path). Gives why it did not
// answer, or nothing when it did.
std::optional<QString> waylandFailure(const QByteArray &display, const QByteArray &runtimeFolder);

} // namespace DisplayProbe
