// Idle time from the Wayland compositor, over a connection of our own (the
// window may be an X11 client, and the toolkit's connection is not ours to
// read). The compositor only says "idle for at least T ms" and "input
// again"; with T short, the time since the idle notice plus T is the idle
// time, and nothing is polled.
#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"
#include "platform/desktop/idle/IdleSources.h"

namespace {
// Below two seconds the idle count reads "not idle" anyway, so a notice
// after two seconds keeps every shown count right with the fewest wake-ups.
constexpr std::uint32_t kNoticeAfterMs = 2000;

// Version 2 of ext-idle-notify adds notifications of input alone, which
// idle inhibitors (a playing video, a call) do not hold back.
constexpr std::uint32_t kInputOnlyVersion = 2;

// One connection to the compositor with the objects bound on it.
class WaylandIdleConnection {
public:
    explicit WaylandIdleConnection(wl_display* display) : display_(display) {}
    ~WaylandIdleConnection();

    // Finds the seat and an idle protocol; false when the compositor has neither.
    bool Bind();
    // Asks for the notice; Idled and Resumed are called from Pump.
    template <class Owner>
    void Arm(Owner* owner);
    // Reads and handles what the compositor has sent, without waiting;
    // false when the connection is broken.
    bool Pump();
    int Fd() const { return wl_display_get_fd(display_); }
    bool Armed() const { return notification_ || kdeTimeout_; }
    std::string Describe() const;

private:
    static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    ext_idle_notifier_v1* notifier_ = nullptr;
    org_kde_kwin_idle* kdeIdle_ = nullptr;
    ext_idle_notification_v1* notification_ = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
};

void WaylandIdleConnection::Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                                   std::uint32_t version)
{
    auto* self = static_cast<WaylandIdleConnection*>(data);
    if (!self->seat_ && std::strcmp(interface, wl_seat_interface.name) == 0) {
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (!self->notifier_ && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
        const std::uint32_t bound = std::min(version, kInputOnlyVersion);
        self->notifier_ = static_cast<ext_idle_notifier_v1*>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, bound));
    } else if (!self->kdeIdle_ && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
        self->kdeIdle_ =
            static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    }
}

bool WaylandIdleConnection::Bind()
{
    static const wl_registry_listener listener = {&WaylandIdleConnection::Global,
                                                  &WaylandIdleConnection::GlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    if (wl_display_roundtrip(display_) < 0) return false;
    if (!seat_ || (!notifier_ && !kdeIdle_)) return false;
    if (notifier_ && kdeIdle_) {  // the standard protocol wins
        org_kde_kwin_idle_destroy(kdeIdle_);
        kdeIdle_ = nullptr;
    }
    return true;
}

WaylandIdleConnection::~WaylandIdleConnection()
{
    if (notification_) ext_idle_notification_v1_destroy(notification_);
    if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
    if (notifier_) ext_idle_notifier_v1_destroy(notifier_);
    if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

template <class Owner>
void WaylandIdleConnection::Arm(Owner* owner)
{
    if (notifier_) {
        static const ext_idle_notification_v1_listener listener = {
            [](void* data, ext_idle_notification_v1*) { static_cast<Owner*>(data)->Idled(); },
            [](void* data, ext_idle_notification_v1*) { static_cast<Owner*>(data)->Resumed(); },
        };
        notification_ = ext_idle_notifier_v1_get_version(notifier_) >= kInputOnlyVersion
                            ? ext_idle_notifier_v1_get_input_idle_notification(notifier_, kNoticeAfterMs, seat_)
                            : ext_idle_notifier_v1_get_idle_notification(notifier_, kNoticeAfterMs, seat_);
        ext_idle_notification_v1_add_listener(notification_, &listener, owner);
    } else {
        static const org_kde_kwin_idle_timeout_listener listener = {
            [](void* data, org_kde_kwin_idle_timeout*) { static_cast<Owner*>(data)->Idled(); },
            [](void* data, org_kde_kwin_idle_timeout*) { static_cast<Owner*>(data)->Resumed(); },
        };
        kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, kNoticeAfterMs);
        org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &listener, owner);
    }
}

bool WaylandIdleConnection::Pump()
{
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) return false;
    }
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        return false;
    }
    pollfd readable = {Fd(), POLLIN, 0};
    if (::poll(&readable, 1, 0) > 0 && (readable.revents & POLLIN)) {
        if (wl_display_read_events(display_) < 0) return false;
    } else {
        wl_display_cancel_read(display_);
        if (readable.revents & (POLLHUP | POLLERR)) return false;
    }
    return wl_display_dispatch_pending(display_) >= 0;
}

std::string WaylandIdleConnection::Describe() const
{
    // Without input-only notices the compositor holds the idle notice back
    // while any window inhibits idleness, however long the user is away.
    const char* inhibited = ": an idle inhibitor such as a playing video or a call can hide the user's absence";
    if (!notifier_) return std::string("Wayland compositor (org_kde_kwin_idle") + inhibited + ")";
    if (ext_idle_notifier_v1_get_version(notifier_) >= kInputOnlyVersion)
        return "Wayland compositor (ext-idle-notify-v1 version 2, input only)";
    return std::string("Wayland compositor (ext-idle-notify-v1 version 1") + inhibited + ")";
}

class WaylandLastInput : public QObject, public ILastInput {
public:
    WaylandLastInput(IClock& clock, std::unique_ptr<WaylandIdleConnection> connection)
        : clock_(clock), description_(connection->Describe())
    {
        Attach(std::move(connection));
    }

    bool GetLastInputTick(std::uint32_t& tick) override;
    bool Failing() const override { return failures_.Failing(); }
    std::string Describe() const override { return description_; }

    void Idled() { idle_ = true; lastInput_ = clock_.GetTickCount() - kNoticeAfterMs; }
    void Resumed() { idle_ = false; }

private:
    void Attach(std::unique_ptr<WaylandIdleConnection> connection);
    void Drop();

    IClock& clock_;
    const std::string description_;
    std::unique_ptr<WaylandIdleConnection> connection_;
    std::unique_ptr<QSocketNotifier> readable_;
    bool idle_ = false;
    std::uint32_t lastInput_ = 0;
    ReadingFailures failures_;
};

std::unique_ptr<WaylandIdleConnection> Connect()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    auto connection = std::make_unique<WaylandIdleConnection>(display);
    if (!connection->Bind()) return nullptr;
    return connection;
}

void WaylandLastInput::Attach(std::unique_ptr<WaylandIdleConnection> connection)
{
    connection_ = std::move(connection);
    idle_ = false;
    readable_ = std::make_unique<QSocketNotifier>(connection_->Fd(), QSocketNotifier::Read);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, this, [this] {
        if (!connection_->Pump()) Drop();
    });
}

void WaylandLastInput::Drop()
{
    // The compositor went away or broke the connection; the next questions
    // connect again. The notifier may be the caller: it goes later.
    readable_->setEnabled(false);
    readable_.release()->deleteLater();
    connection_.reset();
}

bool WaylandLastInput::GetLastInputTick(std::uint32_t& tick)
{
    if (!connection_) {
        if (auto connection = Connect()) Attach(std::move(connection));
    }
    // The notice is asked for at the first question, so a program whose idle
    // detection is off gets no wake-ups from it. A fresh notice starts "not
    // idle": no input is known to be missing since it was asked for.
    if (connection_ && !connection_->Armed()) connection_->Arm(this);
    if (connection_ && !connection_->Pump()) Drop();
    if (!connection_) {
        failures_.Failed();
        return false;
    }
    failures_.Succeeded();
    // Not idle: the last input lies within the last kNoticeAfterMs.
    tick = idle_ ? lastInput_ : clock_.GetTickCount();
    return true;
}
}  // namespace

std::unique_ptr<ILastInput> CreateWaylandLastInput(IClock& clock)
{
    // Without WAYLAND_DISPLAY the library would try a default socket; a
    // session that names no compositor has none for us.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) return nullptr;
    auto connection = Connect();
    if (!connection) return nullptr;
    return std::make_unique<WaylandLastInput>(clock, std::move(connection));
}
