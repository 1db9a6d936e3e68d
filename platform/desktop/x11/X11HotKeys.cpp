#include "platform/desktop/x11/X11HotKeys.h"

#include <QCoreApplication>
#include <cstdlib>

#include <xcb/xcb.h>
// The header names a field "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include "platform/KeyboardLayout.h"
#include "platform/TraceMarks.h"
#include "platform/VirtualKeys.h"
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
// A key held down repeats well within this; a press later than this after
// the last one is a new press even if its release was never seen.
constexpr std::uint32_t kRepeatGapMs = 1500;

unsigned XModifiers(UINT modifiers)
{
    unsigned mods = 0;
    if (modifiers & MOD_ALT) mods |= XCB_MOD_MASK_1;
    if (modifiers & MOD_CONTROL) mods |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_SHIFT) mods |= XCB_MOD_MASK_SHIFT;
    return mods;
}
}  // namespace

X11HotKeys::X11HotKeys(IMessageWindows& windows, IKeyboardLayout& keyboard) : windows_(windows), keyboard_(keyboard)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
    keyboard_.OnChanged = [this] { Regrab(); };
    // Held keys then repeat as presses alone, without a release before each;
    // a server without it pairs each repeat with a release of the same time.
    if (xcb_connection_t* c = Connection()) {
        constexpr uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        std::free(xcb_xkb_per_client_flags_reply(
            c, xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
    }
}

X11HotKeys::~X11HotKeys()
{
    keyboard_.OnChanged = nullptr;
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const Registration& r : registrations_)
        if (r.keycode) Ungrab(r.keycode, r.mods);
}

unsigned X11HotKeys::KeycodeFor(unsigned vk) const
{
    const unsigned keycode = KeycodeForVirtualKey(KeyboardMap{keyboard_.Keymap(), keyboard_.Layout()}, vk);
    return keycode <= 255 ? keycode : 0;  // the core protocol's key codes
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
    const unsigned keycode = KeycodeFor(virtualKey);
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
        const unsigned keycode = KeycodeFor(r.virtualKey);
        if (keycode == r.keycode) continue;
        const unsigned old = r.keycode;
        r.keycode = 0;
        if (old && !GrabbedByUs(old, r.mods)) Ungrab(old, r.mods);
        // A layout without the key keeps the registration until one has it;
        // the user hears that the key was lost.
        HotKeyFailure failure = HotKeyFailure::KeyMissing;
        if (keycode) failure = GrabbedByUs(keycode, r.mods) ? HotKeyFailure::None : Grab(keycode, r.mods);
        if (failure == HotKeyFailure::None) r.keycode = keycode;
        else if (old)
            windows_.PostMessage(r.wnd, WM_HOTKEY_LOST, static_cast<WPARAM>(r.id), static_cast<LPARAM>(failure));
    }
}

bool X11HotKeys::Repeated(unsigned keycode, std::uint32_t time)
{
    auto it = held_.find(keycode);
    const bool repeat = it != held_.end() &&
                        (it->second.down ? time - it->second.time < kRepeatGapMs : time == it->second.time);
    held_[keycode] = Held{time, true};
    return repeat;
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || registrations_.empty()) return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    const unsigned type = ev->response_type & ~0x80;
    if (type == XCB_KEY_RELEASE) {
        auto* key = reinterpret_cast<xcb_key_release_event_t*>(ev);
        auto it = held_.find(key->detail);
        if (it == held_.end()) return false;
        it->second = Held{key->time, false};
        return true;
    }
    if (type != XCB_KEY_PRESS) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    for (const Registration& r : registrations_) {
        if (r.keycode != key->detail || r.mods != (key->state & kRelevant)) continue;
        if (Repeated(key->detail, key->time)) {
            TraceMark("hotkey-repeat");
        } else {
            TraceMark("hotkey-press");
            windows_.PostMessage(r.wnd, WM_HOTKEY, static_cast<WPARAM>(r.id), 0);
        }
        return true;
    }
    return false;
}
