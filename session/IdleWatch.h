#pragma once
// Idle auto-stop and auto-restart: each second the input's idle time is
// compared with the limit; a running clock is stopped through the service's
// page when the user has been away that long, and started again, with the
// break counted, when the user is back. Also a sleep long enough counts.
#include <cstdint>
#include <functional>
#include <string>

#include "session/ClockMirror.h"
#include "session/Settings.h"

class IClock;
class ILastInput;

class TIdleWatch {
public:
    explicit TIdleWatch(TClockMirror& mirror) : mirror_(mirror) {}

    // The clock was stopped by idleness: the break runs until the restart.
    bool IdleStopped = false;
    std::uint32_t BreakSeconds = 0;

    struct Second {
        std::string caption;  // the caption's idle part (" not idle ", " 40/120 sec idle stop", " idle n/a")
        bool showCaption = true;  // false while no fresh reading decides anything
    };
    // One second of the window's timer, on the clock's tick count.
    Second Tick(bool clockRunning, const TSettings& settings, ILastInput* source, IClock& clock);
    // The machine slept that long: as long an idle period stops a running clock.
    void Slept(std::uint32_t seconds, bool clockRunning, const TSettings& settings, ILastInput* source);
    // A start or stop navigates: an idle one sets the break it carries.
    void SubmissionShown(bool start, const TIntent* ours);
    // An idle intent ended; the notice when it failed (empty when none).
    std::string Ended(const TIntent& intent, TIntentEnd why, bool clockRunning);
    // Whether a tick has something to do besides the running clock.
    bool Active() const;

    static constexpr const char* kTitle = "Chronel Auto-Stop Idle Detection";
    // What the user is told (warning or not, seconds shown).
    std::function<void(const std::string& text, bool warning, unsigned seconds)> OnNotice;

private:
    void AutoStop(std::uint32_t breakSeconds, bool clockRunning);
    void NoLongerFits(std::uint32_t idleSeconds, std::uint32_t threshold, bool clockRunning);
    void Notice(const std::string& text, bool warning, unsigned seconds)
    {
        if (OnNotice) OnNotice(text, warning, seconds);
    }

    TClockMirror& mirror_;
    bool unreadableReported_ = false;
};
