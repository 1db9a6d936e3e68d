#pragma once
// The window's hold on the work-log service: whether the last load reached
// it, the login again with growing pauses after a failure, a refused login
// that waits for the user, and the stop before the exit. Driven by window
// timers, so it runs on the platform's (virtual) time.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Browser.h"
#include "platform/Types.h"

enum class TLinkState {
    Idle,          // no login yet
    Connecting,    // a login (or its retry) is loading
    Connected,     // the last load reached the service
    Reconnecting,  // the status page is shown; the next try is armed
    Held,          // the status page is shown; the next try waits for the user
    Refused,       // the base URL cannot be used; nothing is tried
};

// What a link on the status page asks for.
enum class TLinkAction { None, TryNow, Preferences };

class TServiceLink {
public:
    TServiceLink();
    ~TServiceLink();
    TServiceLink(const TServiceLink&) = delete;
    TServiceLink& operator=(const TServiceLink&) = delete;

    // The pause before each retry: 5 s, 15 s, 30 s, 60 s, then every 2 minutes.
    static std::uint32_t RetryDelayMs(int failures);
    static constexpr std::uint32_t kExitStopWaitMs = 10000;
    // The longest wait for a login's page once it went out.
    static constexpr std::uint32_t kLoginWaitMs = 45000;

    // Starts the session afresh with the base URL (also after a change of
    // it); false (and the status page shown) when the URL is not valid.
    bool Begin(const std::string& baseUrl, bool valid);
    // The login's navigation went out: its page is awaited within kLoginWaitMs.
    void LoginSent();
    // A top-level load failed, with what the engine said of it: a failure no retry can mend
    // (an unsafe port, a certificate not trusted) is held, the others tried again.
    void LoadFailed(const TNavigateErrorArgs& error);
    // A page of the service completed.
    void LoadCompleted();
    // Retry at once (the status page's link, the network is back, new credentials).
    void TryNow();
    void NetworkBack();
    // Nothing more is tried until the user acts: the status page says why,
    // with "Try now" and a link to the preferences.
    void Hold(const std::string& message);
    // Log in again at once (the session expired); an exit's stop waits anew.
    void Relogin();

    // The user chose to stop and exit: the stop must reach the service
    // within kExitStopWaitMs, else OnExitStopFailed is raised (from the
    // message loop). False when there is no page to stop through: the
    // question then comes at once, with the last failure.
    bool BeginExitStop();
    bool ExitStopPending() const { return exitStop_; }
    void CancelExitStop();

    // The status page's links: addresses of a scheme no engine opens,
    // recognised by this link's own token.
    std::string TryNowUrl() const;
    std::string PreferencesUrl() const;
    TLinkAction ActionOf(const std::string& url) const;

    TLinkState State() const { return state_; }
    const std::string& BaseUrl() const { return baseUrl_; }
    bool Connected() const { return state_ == TLinkState::Connected; }
    // The program's own status page is shown.
    bool ShowsStatusPage() const
    {
        return state_ == TLinkState::Refused || state_ == TLinkState::Held || state_ == TLinkState::Reconnecting;
    }
    // The tray hint while not connected.
    std::string Hint() const;
    int Failures() const { return failures_; }
    const std::string& LastFailure() const { return lastFailure_; }
    // Virtual tick of the next armed try (0 when none is armed).
    std::uint32_t NextTryTick() const { return nextTryTick_; }
    // The status page's HTML for the current failure.
    std::string StatusPage() const;
    // A page of the same look saying text, with the link to the preferences
    // (a wait that is no failure).
    std::string WaitingPage(const std::string& text) const;

    // What the window does for the link.
    std::function<void()> OnLogin;                        // navigate the login
    std::function<void(const std::string& html)> OnShowPage;  // show a local page
    std::function<void(bool connected)> OnConnectedChanged;
    std::function<void(const std::string& reason)> OnExitStopFailed;
    // The login's page did not come within kLoginWaitMs.
    std::function<void(const std::string& reason)> OnLoginLost;
    // The time of day of the next try, as the status page says it (a plain H:MM:SS without it).
    std::function<std::string(double dateTime)> FormatTime;

private:
    void Dispatch(TMessage& m);
    void Fail(const std::string& message);
    void Disconnected();
    void AskExitQuestion(const std::string& reason);

    HWND wnd_ = 0;
    TLinkState state_ = TLinkState::Idle;
    std::string baseUrl_;
    std::string lastFailure_;  // the status page's first line
    std::string lastReason_;
    std::string exitReason_;
    int failures_ = 0;
    std::uint32_t nextTryTick_ = 0;
    double nextTryTime_ = 0;
    std::string token_;  // in the status page's links
    bool exitStop_ = false;
    bool reportedDisconnected_ = false;
};
