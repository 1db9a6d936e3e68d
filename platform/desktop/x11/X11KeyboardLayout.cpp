#include "platform/desktop/x11/X11KeyboardLayout.h"

#include <QCoreApplication>

#include <xcb/xcb.h>
// The header names a field "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/desktop/x11/X11.h"

namespace {
// Several notices arrive for one layout switch; read the keymap once they settle.
constexpr int kSettleMs = 150;
}  // namespace

std::unique_ptr<X11KeyboardLayout> X11KeyboardLayout::Create()
{
    xcb_connection_t* c = x11::Connection();
    if (!c || !xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                           XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return nullptr;
    std::unique_ptr<X11KeyboardLayout> layout(new X11KeyboardLayout());
    layout->device_ = xkb_x11_get_core_keyboard_device_id(c);
    layout->context_ = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (layout->device_ < 0 || !layout->context_ || !layout->Load()) return nullptr;
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
    if (xkb && xkb->present) layout->xkbEventBase_ = xkb->first_event;
    layout->changed_.setSingleShot(true);
    layout->changed_.setInterval(kSettleMs);
    X11KeyboardLayout* self = layout.get();
    QObject::connect(&layout->changed_, &QTimer::timeout, [self] {
        if (self->Load() && self->OnChanged) self->OnChanged();
    });
    QCoreApplication::instance()->installNativeEventFilter(self);
    return layout;
}

X11KeyboardLayout::~X11KeyboardLayout()
{
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

bool X11KeyboardLayout::Load()
{
    xcb_connection_t* c = x11::Connection();
    if (!c) return false;
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context_, c, device_, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return false;
    xkb_state* state = xkb_x11_state_new_from_device(keymap, c, device_);
    layout_ = state ? xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE) : 0;
    xkb_state_unref(state);
    xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    return true;
}

bool X11KeyboardLayout::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t") return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    const unsigned type = ev->response_type & ~0x80;
    bool changed = type == XCB_MAPPING_NOTIFY;
    if (xkbEventBase_ && type == xkbEventBase_) {
        // The toolkit asks for these on its connection; they arrive here too.
        if (ev->pad0 == XCB_XKB_NEW_KEYBOARD_NOTIFY || ev->pad0 == XCB_XKB_MAP_NOTIFY) changed = true;
        if (ev->pad0 == XCB_XKB_STATE_NOTIFY)
            changed = reinterpret_cast<xcb_xkb_state_notify_event_t*>(ev)->group != static_cast<int>(layout_);
    }
    if (changed) changed_.start();
    return false;  // the toolkit follows the layout too
}
