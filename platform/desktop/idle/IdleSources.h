#pragma once
// The sources of the session's idle time. The program asks for the best one
// once, at start-up; each Create* returns null where the session lacks it.
#include <memory>

#include "platform/Clock.h"
#include "platform/LastInput.h"

// Best first: the compositor's idle notifications over a Wayland connection
// of our own, GNOME's idle monitor, the freedesktop screen saver, and the X
// screen-saver extension on a pure X11 session. Without any, a source whose
// GetLastInputTick returns false.
std::unique_ptr<ILastInput> ChooseDesktopLastInput(IClock& clock);

std::unique_ptr<ILastInput> CreateWaylandLastInput(IClock& clock);
std::unique_ptr<ILastInput> CreateGnomeIdleMonitorLastInput(IClock& clock);
std::unique_ptr<ILastInput> CreateScreenSaverLastInput(IClock& clock);
std::unique_ptr<ILastInput> CreateX11LastInput(IClock& clock);

// The largest idle time a source reports, in milliseconds: keeps the
// difference of 32-bit tick counts meaningful.
constexpr unsigned long long kMaxIdleMs = 0x7fffffffULL;
