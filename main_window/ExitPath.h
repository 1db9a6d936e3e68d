#pragma once
// How the main window closes: the question while the clock runs, the wait
// for the service's stop, the settings' save, and the desktop session's end.
#include <string>

class QCloseEvent;
class IEndSessionRequest;
class TForm1;

class TExitPath {
public:
    explicit TExitPath(TForm1& form) : form_(form) {}

    // Exit was chosen: the close does not go to the tray.
    bool Requested = false;
    // The program ends once a timer page shows the clock stopped.
    bool WhenStopped = false;

    // Asks the window to close through the close path; true when it closed.
    bool Close();
    // Whether the window may close now; else it hides, asks or waits.
    bool CloseQuery();
    // The question; true when answered Yes (the stop is on its way).
    bool AskToStopAndExit();
    // The stop asked for on exit did not reach the service.
    void StopFailed(const std::string& reason);
    // False when the settings could not be saved: the close does not complete.
    bool SaveForClose();
    void CloseEvent(QCloseEvent* event);
    void QueryEndSession(IEndSessionRequest& request);
    void EndSession();
    void PrepareForSleep();

private:
    // The stop goes out; the program ends once the service has taken it.
    void StopThenClose();

    TForm1& form_;
    bool inQuery_ = false;
    bool again_ = false;
};
