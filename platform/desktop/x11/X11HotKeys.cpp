#include "platform/desktop/x11/X11HotKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The header names a field "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11.h"

namespace {
using x11::Connection;

xcb_window_t Root(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// Num Lock and Caps Lock must not stop a hot key from working.
constexpr unsigned kIgnored[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr unsigned kRelevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
// Several notices arrive for one layout switch; grab again once they settle.
constexpr int kLayoutSettleMs = 150;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Context = std::unique_ptr<xkb_context, Deleter<xkb_context, xkb_context_unref>>;
using Keymap = std::unique_ptr<xkb_keymap, Deleter<xkb_keymap, xkb_keymap_unref>>;

// The key at a position, when the current layout gives it any symbol.
unsigned KeycodeAtPosition(xcb_connection_t* c, const char* name)
{
    Context context(xkb_context_new(
        static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)));
    if (!context) return 0;
    if (!xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return 0;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    if (device < 0) return 0;
    Keymap keymap(xkb_x11_keymap_new_from_device(context.get(), c, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) return 0;
    const xkb_keycode_t code = xkb_keymap_key_by_name(keymap.get(), name);
    if (code == XKB_KEYCODE_INVALID || code > 255) return 0;
    if (xkb_keymap_num_layouts_for_key(keymap.get(), code) == 0) return 0;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap.get(), code, 0, 0, &syms) <= 0) return 0;
    return code;
}

// The key for a virtual-key code on the current layout; 0 when it has none.
unsigned KeycodeFor(xcb_connection_t* c, unsigned vk)
{
    if (const char* name = VirtualKeyToKeyName(vk)) return KeycodeAtPosition(c, name);
    const unsigned long sym = VirtualKeyToKeysym(vk);
    if (!sym) return 0;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols) return 0;
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, static_cast<xcb_keysym_t>(sym));
    xcb_key_symbols_free(symbols);
    const unsigned code = codes && codes[0] != XCB_NO_SYMBOL ? codes[0] : 0;
    std::free(codes);
    return code;
}

unsigned XModifiers(UINT modifiers)
{
    unsigned mods = 0;
    if (modifiers & MOD_ALT) mods |= XCB_MOD_MASK_1;
    if (modifiers & MOD_CONTROL) mods |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_SHIFT) mods |= XCB_MOD_MASK_SHIFT;
    return mods;
}
}  // namespace

const char* VirtualKeyToKeyName(unsigned vk)
{
    // Windows names these keys by where they sit on a US keyboard.
    static const char* const digits[] = {"AE10", "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09"};
    if (vk >= '0' && vk <= '9') return digits[vk - '0'];
    switch (vk) {
    case 0xBA: return "AC10";  // VK_OEM_1: ;:
    case 0xBB: return "AE12";  // VK_OEM_PLUS: =+
    case 0xBC: return "AB08";  // VK_OEM_COMMA
    case 0xBD: return "AE11";  // VK_OEM_MINUS
    case 0xBE: return "AB09";  // VK_OEM_PERIOD
    case 0xBF: return "AB10";  // VK_OEM_2: /?
    case 0xC0: return "TLDE";  // VK_OEM_3: the key left of 1
    case 0xDB: return "AD11";  // VK_OEM_4: [{
    case 0xDC: return "BKSL";  // VK_OEM_5: \|
    case 0xDD: return "AD12";  // VK_OEM_6: ]}
    case 0xDE: return "AC11";  // VK_OEM_7: '"
    case 0xE2: return "LSGT";  // VK_OEM_102: the extra key beside left Shift
    default: return nullptr;
    }
}

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
    if (xcb_connection_t* c = Connection()) {
        const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
        if (xkb && xkb->present) xkbEventBase_ = xkb->first_event;
    }
    layoutChanged_ = new QTimer();
    layoutChanged_->setSingleShot(true);
    layoutChanged_->setInterval(kLayoutSettleMs);
    QObject::connect(layoutChanged_, &QTimer::timeout, [this] { Regrab(); });
}

X11HotKeys::~X11HotKeys()
{
    delete layoutChanged_;
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const Registration& r : registrations_)
        if (r.keycode) Ungrab(r.keycode, r.mods);
}

std::string X11HotKeys::Describe() const
{
    return Connection() ? "X11 key grab" : "none (no X11 display)";
}

HotKeyFailure X11HotKeys::Grab(unsigned keycode, unsigned mods)
{
    xcb_connection_t* c = Connection();
    if (!c) return HotKeyFailure::Unavailable;
    HotKeyFailure failure = HotKeyFailure::None;
    for (unsigned extra : kIgnored) {
        auto cookie = xcb_grab_key_checked(c, 1, Root(c), static_cast<uint16_t>(mods | extra),
                                           static_cast<xcb_keycode_t>(keycode), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            // BadAccess: another client holds the combination; anything else
            // is the server's refusal of the request, not of the key.
            if (failure != HotKeyFailure::Taken)
                failure = error->error_code == XCB_ACCESS ? HotKeyFailure::Taken : HotKeyFailure::Unavailable;
            std::free(error);
        }
    }
    if (failure != HotKeyFailure::None) Ungrab(keycode, mods);
    return failure;
}

void X11HotKeys::Ungrab(unsigned keycode, unsigned mods)
{
    xcb_connection_t* c = Connection();
    if (!c) return;
    for (unsigned extra : kIgnored)
        xcb_ungrab_key(c, static_cast<xcb_keycode_t>(keycode), Root(c), static_cast<uint16_t>(mods | extra));
    xcb_flush(c);
}

bool X11HotKeys::GrabbedByUs(unsigned keycode, unsigned mods) const
{
    for (const Registration& r : registrations_)
        if (r.keycode == keycode && r.mods == mods) return true;
    return false;
}

bool X11HotKeys::RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey)
{
    lastFailure_ = HotKeyFailure::None;
    xcb_connection_t* c = Connection();
    if (!c) {
        lastFailure_ = HotKeyFailure::Unavailable;
        return false;
    }
    const unsigned keycode = KeycodeFor(c, virtualKey);
    if (!keycode) {
        lastFailure_ = HotKeyFailure::KeyMissing;
        return false;
    }
    const unsigned mods = XModifiers(modifiers);
    for (const Registration& r : registrations_) {
        if (r.keycode != keycode || r.mods != mods) continue;
        // Ours already: another window or id may not take it.
        if (r.wnd == wnd && r.id == id) return true;
        lastFailure_ = HotKeyFailure::Taken;
        return false;
    }
    lastFailure_ = Grab(keycode, mods);
    if (lastFailure_ != HotKeyFailure::None) return false;
    registrations_.push_back(Registration{wnd, id, modifiers, virtualKey, keycode, mods});
    return true;
}

bool X11HotKeys::UnregisterHotKey(HWND wnd, int id)
{
    bool any = false;
    for (auto it = registrations_.begin(); it != registrations_.end();) {
        if (it->wnd == wnd && it->id == id) {
            const Registration r = *it;
            it = registrations_.erase(it);
            if (r.keycode && !GrabbedByUs(r.keycode, r.mods)) Ungrab(r.keycode, r.mods);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

void X11HotKeys::Regrab()
{
    xcb_connection_t* c = Connection();
    if (!c) return;
    for (Registration& r : registrations_) {
        const unsigned keycode = KeycodeFor(c, r.virtualKey);
        if (keycode == r.keycode) continue;
        const unsigned old = r.keycode;
        r.keycode = 0;
        if (old && !GrabbedByUs(old, r.mods)) Ungrab(old, r.mods);
        // A layout without the key keeps the registration until one has it;
        // the user hears of it.
        if (keycode && (GrabbedByUs(keycode, r.mods) || Grab(keycode, r.mods) == HotKeyFailure::None)) r.keycode = keycode;
        else if (old && !keycode)
            windows_.PostMessage(r.wnd, WM_HOTKEY_LOST, static_cast<WPARAM>(r.id),
                                 static_cast<LPARAM>(HotKeyFailure::KeyMissing));
    }
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || registrations_.empty()) return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    const unsigned type = ev->response_type & ~0x80;
    if (type == XCB_MAPPING_NOTIFY ||
        (xkbEventBase_ && type == xkbEventBase_ &&
         (ev->pad0 == XCB_XKB_NEW_KEYBOARD_NOTIFY || ev->pad0 == XCB_XKB_MAP_NOTIFY))) {
        layoutChanged_->start();
        return false;  // the toolkit follows the layout too
    }
    if (type != XCB_KEY_PRESS) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    for (const Registration& r : registrations_) {
        if (r.keycode != key->detail || r.mods != (key->state & kRelevant)) continue;
        windows_.PostMessage(r.wnd, WM_HOTKEY, static_cast<WPARAM>(r.id), 0);
        return true;
    }
    return false;
}
