#include "platform/X11Keyboard.h"

#include <QGuiApplication>

#include <cstdlib>

#include <xcb/xcb.h>
// The XKB header names a member `explicit`: renamed while it is read.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#ifdef __clang__
#pragma clang diagnostic pop
#endif

namespace {

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, FreeReply>;

bool askForRepeatsWithoutRelease(xcb_connection_t *connection)
{
    // A request of an extension the server lacks would close Qt's connection.
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (!xkb || !xkb->present)
        return false;
    const ReplyPointer<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    if (!use || !use->supported)
        return false;
    const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const ReplyPointer<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        connection, xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
    return flags && (flags->value & flag) != 0;
}

ReplyPointer<xcb_query_keymap_reply_t> queryKeymap(xcb_connection_t *connection)
{
    return ReplyPointer<xcb_query_keymap_reply_t>(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
}

// The keys a keymap's bit vector holds down; its first byte is that of
// keycodes 8 * firstByte to 8 * firstByte + 7.
QList<quint32> downKeycodes(const uint8_t *bytes, int firstByte, int byteCount)
{
    QList<quint32> keycodes;
    for (int byte = 0; byte < byteCount; ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if ((bytes[byte] >> bit) & 1)
                keycodes.append(quint32((firstByte + byte) * 8 + bit));
    return keycodes;
}

} // namespace

std::unique_ptr<X11Keyboard> X11Keyboard::forApplication(Observer observer, DownKeysObserver downKeysObserver)
{
    const auto *application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = application ? application->connection() : nullptr;
    if (!connection)
        return nullptr;
    std::unique_ptr<X11Keyboard> keyboard(
        new X11Keyboard(connection, std::move(observer), std::move(downKeysObserver)));
    QCoreApplication::instance()->installNativeEventFilter(keyboard.get());
    return keyboard;
}

X11Keyboard::X11Keyboard(xcb_connection_t *connection, Observer observer, DownKeysObserver downKeysObserver)
    : m_connection(connection),
      m_observer(std::move(observer)),
      m_downKeysObserver(std::move(downKeysObserver)),
      m_repeatsWithoutRelease(askForRepeatsWithoutRelease(connection))
{}

X11Keyboard::~X11Keyboard() = default;

bool X11Keyboard::isDown(quint32 keycode) const
{
    const ReplyPointer<xcb_query_keymap_reply_t> keymap = queryKeymap(m_connection);
    return keymap && keycode < 256 && ((keymap->keys[keycode / 8] >> (keycode % 8)) & 1) != 0;
}

void X11Keyboard::reportDownKeysOnFocus(quintptr window)
{
    const auto id = xcb_window_t(window);
    const ReplyPointer<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, id), nullptr));
    if (!attributes)
        return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_KEYMAP_STATE;
    xcb_change_window_attributes(m_connection, id, XCB_CW_EVENT_MASK, &mask);
}

bool X11Keyboard::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f; // without the bit of a sent event
    if (m_awaitsDownKeys && type != XCB_KEYMAP_NOTIFY) {
        // The server sends the keys right after the focus unless the window
        // no longer asks for them (Qt set its events anew): the keys down now
        // stand in, a little late (a key pressed since then counts as held).
        m_awaitsDownKeys = false;
        if (const ReplyPointer<xcb_query_keymap_reply_t> keymap = queryKeymap(m_connection))
            m_downKeysObserver(downKeycodes(keymap->keys, 0, sizeof(keymap->keys)));
    }
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        const auto *key = static_cast<const xcb_key_press_event_t *>(message);
        m_observer(key->detail, type == XCB_KEY_PRESS, key->time);
        return false;
    }
    case XCB_FOCUS_IN:
        m_awaitsDownKeys = true;
        return false;
    case XCB_KEYMAP_NOTIFY: {
        // Only we ask for these; keycodes 0 to 7 do not exist, nor have a byte.
        const auto *keymap = static_cast<const xcb_keymap_notify_event_t *>(message);
        m_awaitsDownKeys = false;
        m_downKeysObserver(downKeycodes(keymap->keys, 1, sizeof(keymap->keys)));
        return true;
    }
    default:
        return false;
    }
}
