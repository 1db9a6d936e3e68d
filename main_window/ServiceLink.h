#pragma once
// The window's hold on the work-log service: whether the last load reached
// it, the login again with growing pauses after a failure, and a start or
// stop that the window has mirrored but the service has not confirmed yet.
// Driven by window timers, so it runs on the platform's (virtual) time.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Types.h"
#include "prefs/frmPrefsUnit.h"

enum class TLinkState {
    Idle,          // no login yet
    Connecting,    // a login (or its retry) is loading
    Connected,     // the last load reached the service
    Reconnecting,  // the status page is shown; the next try is armed
    Refused,       // the base URL cannot be used; nothing is tried
    Held,          // the status page says why; only "Try now" tries again
};

enum class TTransition { None, Start, Stop };

class TServiceLink {
public:
    TServiceLink();
    ~TServiceLink();
    TServiceLink(const TServiceLink&) = delete;
    TServiceLink& operator=(const TServiceLink&) = delete;

    // The pause before each retry: 5 s, 15 s, 30 s, 60 s, then every 2 minutes.
    static std::uint32_t RetryDelayMs(int failures);
    static constexpr std::uint32_t kExitStopWaitMs = 10000;

    // Starts the session with the base URL; false (and the status page shown)
    // when the URL is refused.
    bool Begin(const std::string& baseUrl);
    // A top-level load failed.
    void LoadFailed(const std::string& url, const std::string& reason);
    // A page of the service completed.
    void LoadCompleted();
    // The login cannot be made now: status page with the message and
    // "Try now", and no retry timer.
    void Hold(const std::string& message);
    // Retry at once (the status page's link, the network is back).
    void TryNow();
    void NetworkBack();

    // The window mirrored a start or stop whose page is loading now.
    void TransitionMirrored(TTransition transition);
    TTransition Awaiting() const { return awaiting_; }
    void ForgetTransition() { awaiting_ = TTransition::None; }

    // The user chose to stop and exit: the stop must reach the service
    // within kExitStopWaitMs, else OnExitStopFailed is raised (from the
    // message loop). False when there is no page to stop through: the
    // question then comes at once, with the last failure.
    bool BeginExitStop();
    bool ExitStopPending() const { return exitStop_; }
    void CancelExitStop();

    // The status page's "Try now" address.
    std::string TryNowUrl() const;
    bool IsTryNowUrl(const std::string& url) const;

    TLinkState State() const { return state_; }
    bool Connected() const { return state_ == TLinkState::Connected; }
    // A retry after a failure is loading: the page it brings does not tell
    // the clock state, so the mirror is kept.
    bool Retrying() const { return state_ == TLinkState::Connecting && failures_ > 0; }
    int Failures() const { return failures_; }
    const std::string& LastFailure() const { return lastFailure_; }
    // Virtual tick of the next armed try (0 when none is armed).
    std::uint32_t NextTryTick() const { return nextTryTick_; }
    // The status page's HTML for the current failure.
    std::string StatusPage() const;

    // What the window does for the link.
    std::function<void()> OnLogin;                        // navigate the login
    std::function<void(const std::string& html)> OnShowPage;  // show a local page
    std::function<void(bool connected)> OnConnectedChanged;
    std::function<void(TTransition)> OnRevert;            // undo the mirrored transition
    std::function<void(const std::string& reason)> OnExitStopFailed;

private:
    void Dispatch(TMessage& m);
    void Fail(const std::string& message);

    HWND wnd_ = 0;
    TLinkState state_ = TLinkState::Idle;
    std::string baseUrl_;
    std::string lastFailure_;  // the status page's first line
    std::string lastReason_;
    std::string exitReason_;
    int failures_ = 0;
    std::uint32_t nextTryTick_ = 0;
    double nextTryTime_ = 0;
    TTransition awaiting_ = TTransition::None;
    bool exitStop_ = false;
    bool reportedDisconnected_ = false;
};
