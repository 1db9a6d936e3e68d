// The compositor's keymap, over a Wayland connection of our own (the window
// may be an X11 client, and the toolkit's connection is not ours to read).
// The compositor sends the keymap to every keyboard, focused or not, and
// again when it changes; which of its layouts is active it tells only the
// focused client, so Plasma's layout service is asked where it runs.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/KeyboardLayout.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11KeyboardLayout.h"

namespace {
const QString kLayoutsService = QStringLiteral("org.kde.keyboard");
const QString kLayoutsPath = QStringLiteral("/Layouts");
const QString kLayoutsInterface = QStringLiteral("org.kde.KeyboardLayouts");
// Plasma's layout service answers at once or not at all.
constexpr int kLayoutsCallMs = 2000;
// A keymap and a layout switch may come together: tell once they settle.
constexpr int kSettleMs = 150;

class WaylandKeyboardLayout : public QObject, public IKeyboardLayout {
    Q_OBJECT
public:
    explicit WaylandKeyboardLayout(wl_display* display) : display_(display) {}
    ~WaylandKeyboardLayout() override;
    // Finds the seat's keyboard and waits for its keymap; false without one.
    bool Bind();
    xkb_keymap* Keymap() const override { return keymap_; }
    unsigned Layout() const override { return layout_; }
    std::string Describe() const override
    {
        return plasmaLayouts_ ? "Wayland compositor keymap, Plasma's active layout" : "Wayland compositor keymap";
    }

private slots:
    void PlasmaLayoutChanged(uint index);

private:
    static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void Capabilities(void* data, wl_seat* seat, std::uint32_t caps);
    static void KeymapGiven(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size);
    static void Modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t group);
    void ReadEvents();
    void Changed() { settle_.start(); }

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    unsigned layout_ = 0;
    bool plasmaLayouts_ = false;
    QSocketNotifier* readable_ = nullptr;
    QTimer settle_;
};

void WaylandKeyboardLayout::Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                                   std::uint32_t)
{
    auto* self = static_cast<WaylandKeyboardLayout*>(data);
    if (!self->seat_ && std::strcmp(interface, wl_seat_interface.name) == 0) {
        static const wl_seat_listener listener = {&WaylandKeyboardLayout::Capabilities,
                                                  [](void*, wl_seat*, const char*) {}};
        // Version 2 names the seat; nothing later is needed.
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 2));
        wl_seat_add_listener(self->seat_, &listener, self);
    }
}

void WaylandKeyboardLayout::Capabilities(void* data, wl_seat* seat, std::uint32_t caps)
{
    auto* self = static_cast<WaylandKeyboardLayout*>(data);
    if (self->keyboard_ || !(caps & WL_SEAT_CAPABILITY_KEYBOARD)) return;
    static const wl_keyboard_listener listener = {
        &WaylandKeyboardLayout::KeymapGiven,
        [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
        [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
        [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
        &WaylandKeyboardLayout::Modifiers,
        [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
    };
    self->keyboard_ = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(self->keyboard_, &listener, self);
}

void WaylandKeyboardLayout::KeymapGiven(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                                        std::uint32_t size)
{
    auto* self = static_cast<WaylandKeyboardLayout*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            // The text ends with a NUL within size.
            xkb_keymap* keymap = xkb_keymap_new_from_buffer(self->context_, static_cast<const char*>(text),
                                                            strnlen(static_cast<const char*>(text), size),
                                                            XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(text, size);
            if (keymap) {
                xkb_keymap_unref(self->keymap_);
                self->keymap_ = keymap;
                if (self->layout_ >= xkb_keymap_num_layouts(keymap)) self->layout_ = 0;
                self->Changed();
            }
        }
    }
    close(fd);
}

void WaylandKeyboardLayout::Modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                                      std::uint32_t, std::uint32_t group)
{
    auto* self = static_cast<WaylandKeyboardLayout*>(data);
    if (self->plasmaLayouts_ || group == self->layout_) return;
    self->layout_ = group;
    self->Changed();
}

void WaylandKeyboardLayout::PlasmaLayoutChanged(uint index)
{
    if (index == layout_) return;
    layout_ = index;
    Changed();
}

bool WaylandKeyboardLayout::Bind()
{
    context_ = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (!context_) return false;
    static const wl_registry_listener listener = {&WaylandKeyboardLayout::Global,
                                                  [](void*, wl_registry*, std::uint32_t) {}};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    // The globals, then the seat's capabilities, then the keyboard's keymap.
    for (int i = 0; i < 3 && !keymap_; ++i)
        if (wl_display_roundtrip(display_) < 0) return false;
    if (!keymap_) return false;

    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage get = QDBusMessage::createMethodCall(kLayoutsService, kLayoutsPath, kLayoutsInterface,
                                                      QStringLiteral("getLayout"));
    const QDBusReply<uint> active = bus.call(get, QDBus::Block, kLayoutsCallMs);
    if (active.isValid()) {
        plasmaLayouts_ = bus.connect(kLayoutsService, kLayoutsPath, kLayoutsInterface, QStringLiteral("layoutChanged"),
                                     this, SLOT(PlasmaLayoutChanged(uint)));
        layout_ = active.value() < xkb_keymap_num_layouts(keymap_) ? active.value() : 0;
    }
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
        if (OnChanged) OnChanged();
    });
    readable_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
    return true;
}

void WaylandKeyboardLayout::ReadEvents()
{
    while (wl_display_prepare_read(display_) != 0) wl_display_dispatch_pending(display_);
    // The socket is readable, so this does not block.
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
        // The compositor is gone: the last keymap stays the best knowledge.
        readable_->setEnabled(false);
    }
}

WaylandKeyboardLayout::~WaylandKeyboardLayout()
{
    if (keyboard_) wl_keyboard_destroy(keyboard_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    delete readable_;
    wl_display_disconnect(display_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}
}  // namespace

std::unique_ptr<IKeyboardLayout> CreateDesktopKeyboardLayout()
{
    // In a Wayland session the compositor's keymap is the one keys are
    // pressed on, also for a window on its X server.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name && *name) {
        if (wl_display* display = wl_display_connect(nullptr)) {
            auto layout = std::make_unique<WaylandKeyboardLayout>(display);
            if (layout->Bind()) return layout;
        }
    }
    return X11KeyboardLayout::Create();
}

#include "WaylandKeyboardLayout.moc"
