#pragma once
// A light timer without a window of its own: every timer of the process is a
// window timer on one shared hidden window, and its timer id is the timer
// object itself, so a tick reaches its object without any lookup.
//
// States: stopped (Enabled false, no window timer), running (Enabled true,
// window timer alive), paused (Enabled true, window timer killed by
// Stop(false), as a zero interval or a removed handler leave it).
#include <functional>

#include "platform/Types.h"

class TMessageTimer {
public:
    using TNotify = std::function<void(TMessageTimer*)>;

    TMessageTimer();  // 1000 ms, no handler
    TMessageTimer(UINT interval, TNotify handler);
    ~TMessageTimer();
    TMessageTimer(const TMessageTimer&) = delete;
    TMessageTimer& operator=(const TMessageTimer&) = delete;

    UINT_PTR Id() const { return id_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    UINT Interval() const { return interval_; }
    void SetInterval(UINT v);
    // When set, a tick stops the timer before its event runs: one tick per start.
    bool AutoDisable() const { return autoDisable_; }
    void SetAutoDisable(bool v) { autoDisable_ = v; }
    const TNotify& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotify handler);

    // Starts or restarts the count; false for a zero interval or when the
    // window timer cannot be made.
    bool Start();
    // Kills the window timer; with disable also clears Enabled. False when
    // there was no window timer to kill.
    bool Stop(bool disable);

    // Timers alive, and window timers running, in the process.
    static int GetMessageTimerCount();
    static int GetMessageTimerActiveCount();

protected:
    void Initialize(UINT interval, TNotify handler);

private:
    friend class TMessageTimerHandler;
    void Tick();

    UINT_PTR id_ = 0;
    bool enabled_ = false;
    UINT interval_ = 1000;
    bool autoDisable_ = false;
    TNotify onTimer_;
};
