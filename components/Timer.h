#pragma once
// A window timer. An interval of 0 never fires; setting the interval or the
// enabled state it already has changes nothing; a new interval restarts the
// count from zero.
#include <functional>

#include "platform/Types.h"

class TTimer {
public:
    TTimer();
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned ms);
    HWND Handle() const { return wnd_; }

    std::function<void(TTimer*)> OnTimer;

private:
    void Update();
    HWND wnd_ = 0;
    bool enabled_ = true;
    unsigned interval_ = 1000;
};
