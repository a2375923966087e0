#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>

#include <functional>
#include <memory>

struct xcb_connection_t;

// The keyboard of the X display the application runs on, as Qt's own X
// connection sees it. Qt tells a held key's repeats from new presses only by
// looking ahead for a press at the time of a release, and flags nothing when
// that press has not been read yet; this layer gives the rest what it needs
// to tell them apart itself.
class X11Keyboard final : public QAbstractNativeEventFilter {
public:
    // Sees each key press and release of the connection in the order the
    // server sent them, before Qt delivers (or, for a window a modal dialog
    // blocks, drops) it: the X key code and the server's time stamp.
    using Observer = std::function<void(quint32 keycode, bool pressed, quint32 time)>;
    // Sees, at its place among those key events, which keys are down each
    // time the focus comes to a window of the application: keys pressed or
    // released while another application had the focus included.
    using DownKeysObserver = std::function<void(const QList<quint32> &keycodes)>;

    // Null unless the application runs on X11. Asks the server to send a held
    // key's repeats as presses alone, without a release before each: for the
    // whole connection, so Qt then flags no key event as a repeat.
    static std::unique_ptr<X11Keyboard> forApplication(Observer observer, DownKeysObserver downKeysObserver);
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard &) = delete;
    X11Keyboard &operator=(const X11Keyboard &) = delete;

    // Whether the server granted that: otherwise each repeat comes as a
    // release and a press at one time.
    bool repeatsWithoutRelease() const { return m_repeatsWithoutRelease; }
    // Whether the key is down at the server now: after a release, only while
    // it is being held (a repeat's release).
    bool isDown(quint32 keycode) const;
    // Asks the server to follow each focus the window gets with the keys then
    // down, so that they come in order with the key events; the window's
    // other events stay as they were. `window` is its native id
    // (QWindow::winId); once, as soon as it exists.
    void reportDownKeysOnFocus(quintptr window);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    X11Keyboard(xcb_connection_t *connection, Observer observer, DownKeysObserver downKeysObserver);

    xcb_connection_t *m_connection;
    Observer m_observer;
    DownKeysObserver m_downKeysObserver;
    bool m_repeatsWithoutRelease = false;
    // A focus came in and the keys down with it have not been seen yet.
    bool m_awaitsDownKeys = false;
};
