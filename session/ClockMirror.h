#pragma once
// The service's work clock as the window last learnt it from a timer page,
// and the starts and stops asked of it. A start or stop is an intent for a
// state: the start/stop form is submitted only while the page shows the
// other state, so however answers get lost a press is carried out at most
// once. Every completed timer page is the last word on what the window
// shows. Driven by window timers, so it runs on the platform's (virtual) time.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "session/PageClock.h"
#include "platform/Types.h"

enum class TIntentSource {
    User,  // the tray menu, the page's menu, the hot key
    Idle,  // idle auto-stop and auto-restart, a long sleep
    Exit,  // the stop before the program ends
};

struct TIntent {
    TClockState want = TClockState::Unknown;
    TIntentSource source = TIntentSource::User;
    std::uint32_t breakSeconds = 0;  // an idle intent's break so far
    bool submitted = false;          // its form has been submitted at least once
    bool reloggedIn = false;         // the session expired once under it
};

enum class TIntentEnd {
    Done,          // a timer page shows the state asked for
    NotTaken,      // the submission's page shows the other state still
    Failed,        // the submission's answer, or the page it waited for, did not come
    NoTimerPage,   // there is no start/stop form to submit
    NoNavigation,  // the submission went nowhere
    Expired,       // the session expired again after the login it brought
    Replaced,      // the user's or the exit's intent took its place
    Dropped,       // given up by the window (the user came back before it was carried out)
};

// How the window's clock is brought to the service's.
enum class TShowKind {
    Reconcile,  // a timer page says: change the window if it differs, and say so
    Announce,   // as Reconcile, and say the state even when the window agreed
    Revert,     // a submission failed: back to the last state a page showed, quietly
};

class TClockMirror {
public:
    TClockMirror();
    ~TClockMirror();
    TClockMirror(const TClockMirror&) = delete;
    TClockMirror& operator=(const TClockMirror&) = delete;

    // The longest wait for a submitted form's navigation.
    static constexpr std::uint32_t kSubmitWaitMs = 10000;
    // The longest wait for the page a submission navigated to.
    static constexpr std::uint32_t kPageWaitMs = 30000;

    // Asks for a state. False when it is not taken: a press for what the
    // user's pending press asks already (a repeating key), anything during
    // the exit's, or an idle intent while the user's waits to be submitted.
    // A user's or the exit's intent replaces whatever else is pending.
    bool Request(TClockState want, TIntentSource source, std::uint32_t breakSeconds = 0);
    // Gives up the pending intent of that source, if any.
    void Drop(TIntentSource source);
    // Looks again whether the pending intent can be submitted (a page became ready).
    void Decide();

    // A start/stop submission navigates (its URL carries "tid=").
    void SubmissionNavigating();
    // A top-level page of the service completed. loginSubmitted: the window
    // has just submitted the login form on it, so the page behind it decides.
    void PageCompleted(const TPageClock& page, bool loginSubmitted);
    // A top-level load failed; statusCode 0 when the service did not answer.
    // True when it was the submission's and the session is being renewed
    // (a 401 or 403): the failure is not one of the connection.
    bool LoadFailed(int statusCode);
    // The service cannot be used until the user acts (a refused login).
    void ServiceHeld();
    // The submission on its way is given up (the exit stopped waiting): the
    // window goes back to what a page showed last; a page that still comes decides.
    void Abandon();

    const std::optional<TIntent>& Pending() const { return intent_; }
    // The intent whose submission is on its way, if any.
    const TIntent* InFlight() const { return inFlight_ != Flight::None && intent_ ? &*intent_ : nullptr; }
    TClockState PageState() const { return page_; }
    // A submission's answer was lost: whether the service took it is not
    // known until the next timer page.
    bool Unsure() const { return announceNext_; }
    const std::string& PageSince() const { return since_; }

    // What the window does for the mirror.
    // The page is about to be looked at for an intent: brought back if it was let go.
    std::function<void()> OnNeedPage;
    std::function<bool()> PageBusy;            // a page is loading
    std::function<bool()> PageHasForm;         // the current page holds the start/stop form
    std::function<TClockState()> ShownState;   // what the window shows now
    // No start/stop form is shown: true when a timer page is on its way (a
    // login or its retry), which the user's intent then waits for.
    std::function<bool()> OnNoTimerPage;
    std::function<void()> OnSubmit;            // submit the start/stop form
    std::function<void(TClockState state, TShowKind kind)> OnShow;
    std::function<void()> OnRelogin;           // log in again, then load the timer page
    std::function<void(const TIntent&, TIntentEnd)> OnEnded;
    // The submission's page, or the page an intent waits for, did not come within kPageWaitMs.
    std::function<void()> OnPageLost;

private:
    enum class Flight { None, Submitted, Navigating };
    void Submit();
    void End(TIntentEnd why);
    void Show(TClockState state, TShowKind kind);
    // The clock state the page shown now stands for.
    TClockState Shows() const;
    void Dispatch(TMessage& m);
    void StopWatch();

    HWND wnd_ = 0;
    TClockState page_ = TClockState::Unknown;     // what the last readable timer page showed
    TClockState current_ = TClockState::Unknown;  // what the page shown now shows
    std::string since_;
    std::optional<TIntent> intent_;
    Flight inFlight_ = Flight::None;
    bool announceNext_ = false;  // the next timer page says the state even if the window agrees
};
