#pragma once
// The sources of the session's idle time. The program asks for the best one
// once, at start-up; each Create* returns null where the session lacks it.
#include <QDBusConnection>
#include <memory>

#include "platform/Clock.h"
#include "platform/LastInput.h"

// On a Wayland session: the compositor's idle notifications over a Wayland
// connection of our own, GNOME's idle monitor, the freedesktop screen saver
// (the X server there sees only its own clients' input). On a pure X11
// session: the X screen-saver extension, then the same bus services. Without
// any, a source that always fails.
std::unique_ptr<ILastInput> ChooseDesktopLastInput(IClock& clock);

std::unique_ptr<ILastInput> CreateWaylandLastInput(IClock& clock);
std::unique_ptr<ILastInput> CreateGnomeIdleMonitorLastInput(IClock& clock,
                                                            const QDBusConnection& bus = QDBusConnection::sessionBus());
std::unique_ptr<ILastInput> CreateScreenSaverLastInput(IClock& clock,
                                                       const QDBusConnection& bus = QDBusConnection::sessionBus());
std::unique_ptr<ILastInput> CreateX11LastInput(IClock& clock);

// Readings that failed in a row: the idle time counts as unknown after
// ILastInput::kFailuresBeforeUnknown of them, and as known at the next good one.
class ReadingFailures {
public:
    void Failed()
    {
        if (inRow_ < ILastInput::kFailuresBeforeUnknown) ++inRow_;
    }
    void Succeeded() { inRow_ = 0; }
    bool Failing() const { return inRow_ >= ILastInput::kFailuresBeforeUnknown; }

private:
    int inRow_ = 0;
};

// The largest idle time a source reports, in milliseconds: keeps the
// difference of 32-bit tick counts meaningful.
constexpr unsigned long long kMaxIdleMs = 0x7fffffffULL;
