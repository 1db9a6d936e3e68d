#include "platform/desktop/idle/IdleSources.h"

#include <cstdlib>

#include "platform/desktop/x11/X11.h"

namespace {
class UnavailableLastInput : public ILastInput {
public:
    bool GetLastInputTick(std::uint32_t&) override { return false; }
    std::string Describe() const override { return "not available"; }
};

class X11LastInput : public ILastInput {
public:
    explicit X11LastInput(IClock& clock) : clock_(clock) {}
    bool GetLastInputTick(std::uint32_t& tick) override
    {
        unsigned long idleMs = 0;
        if (!x11::IdleMilliseconds(idleMs)) return false;
        if (idleMs > kMaxIdleMs) idleMs = kMaxIdleMs;
        tick = clock_.GetTickCount() - static_cast<std::uint32_t>(idleMs);
        return true;
    }
    std::string Describe() const override { return "X11 screen-saver extension"; }

private:
    IClock& clock_;
};

bool WaylandSession()
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland && *wayland;
}
}  // namespace

std::unique_ptr<ILastInput> CreateX11LastInput(IClock& clock)
{
    // Under a Wayland compositor the X server sees only its own clients'
    // input: typing in native windows would count as idle.
    if (WaylandSession() || !x11::ScreenSaverAvailable()) return nullptr;
    return std::make_unique<X11LastInput>(clock);
}

std::unique_ptr<ILastInput> ChooseDesktopLastInput(IClock& clock)
{
    for (auto create : {CreateWaylandLastInput, CreateGnomeIdleMonitorLastInput, CreateScreenSaverLastInput,
                        CreateX11LastInput}) {
        if (auto source = create(clock)) return source;
    }
    return std::make_unique<UnavailableLastInput>();
}
