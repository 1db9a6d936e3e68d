#pragma once
// What the preferences window uses of the main window.
class TTimer;

class IPrefsHost {
public:
    virtual ~IPrefsHost() = default;
    virtual TTimer& TickingSoundTimer() = 0;
    virtual TTimer& MinuteReminderTimer() = 0;
    virtual bool IsClockRunning() const = 0;
    virtual void RegisterStartStopHotKey() = 0;
    // The main window's outer position.
    virtual int Top() const = 0;
    virtual int Left() const = 0;
    virtual void SetTop(int top) = 0;
    virtual void SetLeft(int left) = 0;
};
