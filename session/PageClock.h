#pragma once
// What a completed page of the service says about its work clock.
#include <string>

enum class TClockState { Unknown, Stopped, Running };

struct TPageClock {
    bool loginForm = false;      // the page holds the login form (frmLogin)
    bool startStopForm = false;  // the page holds the start/stop form (frmStartStop)
    // From the form's "tid" field (empty while stopped, the running entry's
    // id while running) and its button (Start or Stop); Unknown when the
    // page does not say or the two disagree.
    TClockState state = TClockState::Unknown;
    std::string since;  // the start time as the page shows it ("09:14"), while running
};
