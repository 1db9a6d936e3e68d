// Idle time from the Wayland compositor, over a connection of our own (the
// window may be an X11 client, and the toolkit's connection is not ours to
// read). The compositor only says "idle for at least T ms" and "input
// again"; with T short, the time since the idle notice plus T is the idle
// time, and nothing is polled.
#include <QObject>
#include <QSocketNotifier>
#include <cstdlib>
#include <cstring>
#include <string>

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"
#include "platform/desktop/idle/IdleSources.h"

namespace {
// Below two seconds the idle count reads "not idle" anyway, so a notice
// after two seconds keeps every shown count right with the fewest wake-ups.
constexpr std::uint32_t kNoticeAfterMs = 2000;

class WaylandLastInput : public QObject, public ILastInput {
public:
    WaylandLastInput(IClock& clock, wl_display* display) : clock_(clock), display_(display) {}
    ~WaylandLastInput() override;

    // Finds the seat and an idle protocol; false when the compositor has neither.
    bool Bind();
    bool GetLastInputTick(std::uint32_t& tick) override;
    std::string Describe() const override;

private:
    static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
    void Arm();
    void ReadEvents();
    void Fail();
    void Idled() { idle_ = true; lastInput_ = clock_.GetTickCount() - kNoticeAfterMs; }
    void Resumed() { idle_ = false; }

    IClock& clock_;
    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    ext_idle_notifier_v1* notifier_ = nullptr;
    org_kde_kwin_idle* kdeIdle_ = nullptr;
    ext_idle_notification_v1* notification_ = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
    QSocketNotifier* readable_ = nullptr;
    bool idle_ = false;
    bool failed_ = false;
    std::uint32_t lastInput_ = 0;
};

void WaylandLastInput::Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t)
{
    auto* self = static_cast<WaylandLastInput*>(data);
    // Version 1 of each is all we use.
    if (!self->seat_ && std::strcmp(interface, wl_seat_interface.name) == 0)
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!self->notifier_ && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
        self->notifier_ =
            static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    else if (!self->kdeIdle_ && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
        self->kdeIdle_ =
            static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
}

bool WaylandLastInput::Bind()
{
    static const wl_registry_listener listener = {&WaylandLastInput::Global, &WaylandLastInput::GlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    if (wl_display_roundtrip(display_) < 0) return false;
    if (!seat_ || (!notifier_ && !kdeIdle_)) return false;
    if (notifier_ && kdeIdle_) {  // the standard protocol wins
        org_kde_kwin_idle_destroy(kdeIdle_);
        kdeIdle_ = nullptr;
    }
    readable_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Read, this);
    QObject::connect(readable_, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
    return true;
}

WaylandLastInput::~WaylandLastInput()
{
    if (notification_) ext_idle_notification_v1_destroy(notification_);
    if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
    if (notifier_) ext_idle_notifier_v1_destroy(notifier_);
    if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    delete readable_;
    wl_display_disconnect(display_);
}

// The notice is asked for at the first question, so a program whose idle
// detection is off gets no wake-ups from it.
void WaylandLastInput::Arm()
{
    if (notifier_) {
        static const ext_idle_notification_v1_listener listener = {
            [](void* data, ext_idle_notification_v1*) { static_cast<WaylandLastInput*>(data)->Idled(); },
            [](void* data, ext_idle_notification_v1*) { static_cast<WaylandLastInput*>(data)->Resumed(); },
        };
        notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, kNoticeAfterMs, seat_);
        ext_idle_notification_v1_add_listener(notification_, &listener, this);
    } else {
        static const org_kde_kwin_idle_timeout_listener listener = {
            [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandLastInput*>(data)->Idled(); },
            [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandLastInput*>(data)->Resumed(); },
        };
        kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, kNoticeAfterMs);
        org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &listener, this);
    }
    if (wl_display_flush(display_) < 0) Fail();
}

void WaylandLastInput::ReadEvents()
{
    if (failed_) return;
    while (wl_display_prepare_read(display_) != 0) wl_display_dispatch_pending(display_);
    // The socket is readable, so this does not block.
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) Fail();
}

void WaylandLastInput::Fail()
{
    // The compositor went away or broke the connection: the idle time is no
    // longer known.
    failed_ = true;
    if (readable_) readable_->setEnabled(false);
}

bool WaylandLastInput::GetLastInputTick(std::uint32_t& tick)
{
    if (failed_) return false;
    if (!notification_ && !kdeTimeout_) Arm();
    if (failed_) return false;
    // Not idle: the last input lies within the last kNoticeAfterMs.
    tick = idle_ ? lastInput_ : clock_.GetTickCount();
    return true;
}

std::string WaylandLastInput::Describe() const
{
    return notifier_ ? "Wayland compositor (ext-idle-notify-v1)" : "Wayland compositor (org_kde_kwin_idle)";
}
}  // namespace

std::unique_ptr<ILastInput> CreateWaylandLastInput(IClock& clock)
{
    // Without WAYLAND_DISPLAY the library would try a default socket; a
    // session that names no compositor has none for us.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) return nullptr;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    auto source = std::make_unique<WaylandLastInput>(clock, display);
    if (!source->Bind()) return nullptr;
    return source;
}
