#include "platform/desktop/x11/X11HotKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include "platform/desktop/DesktopPlatform.h"

namespace {
xcb_connection_t* Connection()
{
    auto* app = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->connection() : nullptr;
}

xcb_window_t Root(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// Num Lock and Caps Lock must not stop a hot key from working.
constexpr unsigned kIgnored[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr unsigned kRelevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
}  // namespace

unsigned long VirtualKeyToKeysym(unsigned vk)
{
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    switch (vk) {
    case 0x08: return XK_BackSpace;
    case 0x09: return XK_Tab;
    case 0x0D: return XK_Return;
    case 0x13: return XK_Pause;
    case 0x14: return XK_Caps_Lock;
    case 0x1B: return XK_Escape;
    case 0x20: return XK_space;
    case 0x21: return XK_Prior;
    case 0x22: return XK_Next;
    case 0x23: return XK_End;
    case 0x24: return XK_Home;
    case 0x25: return XK_Left;
    case 0x26: return XK_Up;
    case 0x27: return XK_Right;
    case 0x28: return XK_Down;
    case 0x2C: return XK_Print;
    case 0x2D: return XK_Insert;
    case 0x2E: return XK_Delete;
    case 0x5D: return XK_Menu;
    case 0x6A: return XK_KP_Multiply;
    case 0x6B: return XK_KP_Add;
    case 0x6D: return XK_KP_Subtract;
    case 0x6E: return XK_KP_Decimal;
    case 0x6F: return XK_KP_Divide;
    case 0x90: return XK_Num_Lock;
    case 0x91: return XK_Scroll_Lock;
    case 0xBA: return XK_semicolon;
    case 0xBB: return XK_equal;
    case 0xBC: return XK_comma;
    case 0xBD: return XK_minus;
    case 0xBE: return XK_period;
    case 0xBF: return XK_slash;
    case 0xC0: return XK_grave;
    case 0xDB: return XK_bracketleft;
    case 0xDC: return XK_backslash;
    case 0xDD: return XK_bracketright;
    case 0xDE: return XK_apostrophe;
    default: return 0;
    }
}

X11HotKeys::X11HotKeys(IMessageWindows& windows) : windows_(windows)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeys::~X11HotKeys()
{
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    for (auto& [g, owner] : grabs_) UngrabKey(g);
}

bool X11HotKeys::GrabKey(const Grab& g)
{
    xcb_connection_t* c = Connection();
    if (!c) return false;
    bool ok = true;
    for (unsigned extra : kIgnored) {
        auto cookie = xcb_grab_key_checked(c, 1, Root(c), static_cast<uint16_t>(g.mods | extra),
                                           static_cast<xcb_keycode_t>(g.keycode), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            std::free(error);  // another client holds the combination
            ok = false;
        }
    }
    if (!ok) UngrabKey(g);
    return ok;
}

void X11HotKeys::UngrabKey(const Grab& g)
{
    xcb_connection_t* c = Connection();
    if (!c) return;
    for (unsigned extra : kIgnored)
        xcb_ungrab_key(c, static_cast<xcb_keycode_t>(g.keycode), Root(c), static_cast<uint16_t>(g.mods | extra));
    xcb_flush(c);
}

bool X11HotKeys::RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey)
{
    xcb_connection_t* c = Connection();
    const unsigned long sym = VirtualKeyToKeysym(virtualKey);
    if (!c || !sym) return false;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols) return false;
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, static_cast<xcb_keysym_t>(sym));
    xcb_key_symbols_free(symbols);
    if (!codes || codes[0] == XCB_NO_SYMBOL) {
        std::free(codes);
        return false;
    }
    unsigned mods = 0;
    if (modifiers & MOD_ALT) mods |= XCB_MOD_MASK_1;
    if (modifiers & MOD_CONTROL) mods |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_SHIFT) mods |= XCB_MOD_MASK_SHIFT;
    const Grab g{codes[0], mods};
    std::free(codes);

    auto it = grabs_.find(g);
    if (it != grabs_.end()) {
        // Ours already: another window or id may not take it.
        if (it->second.wnd != wnd || it->second.id != id) return false;
        return true;
    }
    if (!GrabKey(g)) return false;
    grabs_[g] = Owner{wnd, id};
    return true;
}

bool X11HotKeys::UnregisterHotKey(HWND wnd, int id)
{
    bool any = false;
    for (auto it = grabs_.begin(); it != grabs_.end();) {
        if (it->second.wnd == wnd && it->second.id == id) {
            UngrabKey(it->first);
            it = grabs_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || grabs_.empty()) return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    if ((ev->response_type & ~0x80) != XCB_KEY_PRESS) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    auto it = grabs_.find(Grab{key->detail, key->state & kRelevant});
    if (it == grabs_.end()) return false;
    windows_.PostMessage(it->second.wnd, WM_HOTKEY, static_cast<WPARAM>(it->second.id), 0);
    return true;
}

std::unique_ptr<IHotKeys> CreateDesktopHotKeys(IMessageWindows& windows)
{
    return std::make_unique<X11HotKeys>(windows);
}
