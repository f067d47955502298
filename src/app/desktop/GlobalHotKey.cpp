#include "app/desktop/GlobalHotKey.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <X11/keysym.h>

#include <array>
#include <cstdlib>

namespace quiro {

namespace {

constexpr uint16_t wanted = GlobalHotKey::control | GlobalHotKey::shift;
// The modifiers that make a different shortcut; the lock keys are not among them.
constexpr uint16_t meaningful = GlobalHotKey::shift | GlobalHotKey::control | GlobalHotKey::alt | GlobalHotKey::super;
constexpr std::array<uint16_t, 4> lockVariants{0, GlobalHotKey::capsLock, GlobalHotKey::numLock,
                                               GlobalHotKey::capsLock | GlobalHotKey::numLock};

xcb_connection_t* connection()
{
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

GlobalHotKey::GlobalHotKey(QObject* parent)
    : QObject(parent)
{
}

GlobalHotKey::~GlobalHotKey()
{
    ungrab();
}

bool GlobalHotKey::matches(uint16_t state)
{
    return (state & meaningful) == wanted;
}

std::optional<QString> GlobalHotKey::install()
{
    xcb_connection_t* x = connection();
    if (!x)
        return QStringLiteral("no X11 display: Ctrl+Shift+Space is not available; use the overlay's hint button");
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(x);
    xcb_keycode_t* codes = symbols ? xcb_key_symbols_get_keycode(symbols, XK_space) : nullptr;
    const uint8_t keycode = codes ? codes[0] : 0;
    std::free(codes);
    if (symbols)
        xcb_key_symbols_free(symbols);
    if (keycode == 0)
        return QStringLiteral("the keyboard has no space bar in its map");

    const xcb_window_t root = rootWindow(x);
    bool taken = false;
    for (const uint16_t locks : lockVariants) {
        const xcb_void_cookie_t cookie =
            xcb_grab_key_checked(x, 1, root, wanted | locks, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        // BadAccess: another client holds this very combination.
        if (xcb_generic_error_t* error = xcb_request_check(x, cookie)) {
            taken = true;
            std::free(error);
        }
    }
    if (taken) {
        for (const uint16_t locks : lockVariants)
            xcb_ungrab_key(x, keycode, root, wanted | locks);
        xcb_flush(x);
        return QStringLiteral("Ctrl+Shift+Space is taken by another program — free it in that program's shortcut "
                              "settings; the overlay's hint button still works");
    }
    m_keycode = keycode;
    QCoreApplication::instance()->installNativeEventFilter(this);
    return std::nullopt;
}

void GlobalHotKey::ungrab()
{
    if (m_keycode == 0)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t* x = connection()) {
        const xcb_window_t root = rootWindow(x);
        for (const uint16_t locks : lockVariants)
            xcb_ungrab_key(x, m_keycode, root, wanted | locks);
        xcb_flush(x);
    }
    m_keycode = 0;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_keycode == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    if (key->detail != m_keycode)
        return false;
    if (type == XCB_KEY_RELEASE) {
        m_down = false;
        return false;
    }
    // Holding the keys repeats the press without a release in between (Qt asks the X server for
    // detectable auto-repeat): one hint per press.
    if (!matches(key->state) || m_down)
        return false;
    m_down = true;
    emit activated();
    return false;
}

} // namespace quiro
