#pragma once
#include <map>
#include <string>

#include "platform/Types.h"

// Hidden windows that receive messages, and window timers on them.
// A timer is identified per window by its id; setting an existing id again
// restarts it. Timers deliver WM_TIMER with the id as WParam.
class IMessageWindows {
public:
    virtual ~IMessageWindows() = default;
    virtual HWND AllocateHWnd(TWndMethod method) = 0;
    virtual void DeallocateHWnd(HWND wnd) = 0;
    virtual bool IsWindow(HWND wnd) = 0;
    // Queued: delivered later by the message loop.
    virtual bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // Immediate: runs the handler now and returns its result.
    virtual LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual bool SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs) = 0;
    virtual bool KillTimer(HWND wnd, UINT_PTR id) = 0;
    // A message number unique in the session for the given name.
    virtual UINT RegisterWindowMessage(const std::string& name) = 0;
    // Sends msg to every allocated window.
    virtual void BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// A window timer's elapse as the platform takes it: 0 is raised to 10 ms,
// anything above 0x7FFFFFFF ms is lowered to that maximum.
constexpr UINT kTimerMinimumMs = 10;
constexpr UINT kTimerMaximumMs = 0x7FFFFFFF;
constexpr UINT ClampTimerElapse(UINT elapseMs)
{
    return elapseMs < kTimerMinimumMs ? kTimerMinimumMs : (elapseMs > kTimerMaximumMs ? kTimerMaximumMs : elapseMs);
}

// Numbers for registered message names: the same name gives the same number.
class RegisteredMessages {
public:
    UINT Get(const std::string& name)
    {
        auto it = numbers_.find(name);
        if (it != numbers_.end()) return it->second;
        const UINT msg = 0xC000 + static_cast<UINT>(numbers_.size());
        numbers_[name] = msg;
        return msg;
    }

private:
    std::map<std::string, UINT> numbers_;
};
