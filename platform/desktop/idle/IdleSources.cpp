#include "platform/desktop/idle/IdleSources.h"

#include <cstdlib>
#include <cstring>

#include "platform/desktop/x11/X11.h"

namespace {
class UnavailableLastInput : public ILastInput {
public:
    bool GetLastInputTick(std::uint32_t&) override { return false; }
    bool Failing() const override { return true; }
    std::string Describe() const override { return "not available"; }
};

class X11LastInput : public ILastInput {
public:
    explicit X11LastInput(IClock& clock) : clock_(clock) {}
    bool GetLastInputTick(std::uint32_t& tick) override
    {
        unsigned long idleMs = 0;
        if (!x11::IdleMilliseconds(idleMs)) {
            failures_.Failed();
            return false;
        }
        failures_.Succeeded();
        if (idleMs > kMaxIdleMs) idleMs = kMaxIdleMs;
        tick = clock_.GetTickCount() - static_cast<std::uint32_t>(idleMs);
        return true;
    }
    bool Failing() const override { return failures_.Failing(); }
    std::string Describe() const override { return "X11 screen-saver extension"; }

private:
    IClock& clock_;
    ReadingFailures failures_;
};

bool WaylandSession()
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (wayland && *wayland) || (type && std::strcmp(type, "wayland") == 0);
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
    using Create = std::unique_ptr<ILastInput> (*)(IClock&);
    static const Create gnome = [](IClock& c) { return CreateGnomeIdleMonitorLastInput(c); };
    static const Create screenSaver = [](IClock& c) { return CreateScreenSaverLastInput(c); };
    // On X11 the X server sees all input and answers without a round trip to
    // another process; the bus services come after it.
    const Create wayland[] = {CreateWaylandLastInput, gnome, screenSaver};
    const Create x11[] = {CreateX11LastInput, gnome, screenSaver};
    for (Create create : WaylandSession() ? wayland : x11) {
        if (auto source = create(clock)) return source;
    }
    return std::make_unique<UnavailableLastInput>();
}
