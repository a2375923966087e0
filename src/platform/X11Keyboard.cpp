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

} // namespace

std::unique_ptr<X11Keyboard> X11Keyboard::forApplication(Observer observer)
{
    const auto *application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = application ? application->connection() : nullptr;
    if (!connection)
        return nullptr;
    std::unique_ptr<X11Keyboard> keyboard(new X11Keyboard(connection, std::move(observer)));
    QCoreApplication::instance()->installNativeEventFilter(keyboard.get());
    return keyboard;
}

X11Keyboard::X11Keyboard(xcb_connection_t *connection, Observer observer)
    : m_connection(connection),
      m_observer(std::move(observer)),
      m_repeatsWithoutRelease(askForRepeatsWithoutRelease(connection))
{}

X11Keyboard::~X11Keyboard() = default;

bool X11Keyboard::isDown(quint32 keycode) const
{
    const ReplyPointer<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr));
    return keymap && keycode < 256 && ((keymap->keys[keycode / 8] >> (keycode % 8)) & 1) != 0;
}

bool X11Keyboard::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f; // without the bit of a sent event
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        const auto *key = static_cast<const xcb_key_press_event_t *>(message);
        m_observer(key->detail, type == XCB_KEY_PRESS, key->time);
    }
    return false;
}
