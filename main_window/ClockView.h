#pragma once
// What the main window shows of the work clock: the caption, the tray icon
// and its hint, the menu's start and stop items, the balloons of a start or
// stop, the minute reminder and the ticking sound.
#include <string>

#include "components/MediaPlayer.h"
#include "components/Timer.h"
#include "regex/PcreRegex.h"
#include "session/ClockMirror.h"

class TForm1;

class TClockView {
public:
    explicit TClockView(TForm1& form);

    bool Running = false;
    std::string WorkItemName;
    double StartTime = 0;
    double StopTime = 0;
    TMediaPlayer Player;
    TTimer SoundTimer;
    TTimer ReminderTimer;

    void Started();
    void Stopped();
    // Brings the window's clock to the state a page of the service shows.
    void ShowService(TClockState state, TShowKind kind);
    // The work item the timer page has selected names the menu items and the hint.
    void ReadTimerPage(const std::string& html);
    // The caption's running minutes, and what idleness adds to them.
    void ShowMinutes(const std::string& idleCaption);

    // The sound file played while the clock runs.
    static std::string TickingSoundPath();
    static void SetTickingSoundPathForTests(const std::string& path);

private:
    void StartTickingSound();
    void StopTickingSound();
    void ReminderDue();
    void SoundDue();
    void PlayerNotified();
    // The start the page shows, on today's date (yesterday's when it lies ahead).
    double ServiceStartTime() const;

    TForm1& form_;
    TPcreRegex timerPage_;
    bool quietTransition_ = false;  // the transition's own balloon gives way to the page's word
};
