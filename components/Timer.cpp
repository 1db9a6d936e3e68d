#include "components/Timer.h"

#include "components/Application.h"
#include "platform/Platform.h"

TTimer::TTimer()
{
    wnd_ = CurrentPlatform().Windows->AllocateHWnd([this](TMessage& m) {
        if (m.Msg == WM_TIMER && enabled_ && interval_ != 0) Fire(OnTimer, this);
    });
    Update();
}

TTimer::~TTimer()
{
    auto* windows = CurrentPlatform().Windows;
    windows->KillTimer(wnd_, 1);
    windows->DeallocateHWnd(wnd_);
}

void TTimer::SetEnabled(bool v)
{
    if (v == enabled_) return;
    enabled_ = v;
    Update();
}

void TTimer::SetInterval(unsigned ms)
{
    if (ms == interval_) return;
    interval_ = ms;
    Update();
}

void TTimer::Update()
{
    auto* windows = CurrentPlatform().Windows;
    windows->KillTimer(wnd_, 1);
    if (enabled_ && interval_ != 0) windows->SetTimer(wnd_, 1, interval_);
}
