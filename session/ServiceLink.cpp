#include "session/ServiceLink.h"

#include <cmath>
#include <cstdio>
#include <random>

#include "platform/CoreServices.h"
#include "session/EngineErrors.h"
#include "session/ServiceUrls.h"
#include "session/SessionErrors.h"

namespace {
constexpr UINT_PTR kRetryTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
constexpr UINT_PTR kLoginTimer = 3;
constexpr UINT kExitQuestion = WM_USER + 1;
constexpr std::uint32_t kBackOffMs[] = {5000, 15000, 30000, 60000};
constexpr std::uint32_t kSteadyRetryMs = 120000;
// No engine opens this scheme, so a link of the status page never leaves the program.
constexpr const char* kActionScheme = "chronel-timer:";

std::string Html(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// The status page's text: words wrap at spaces only, so a long token (an
// error's code, an address) gets break points after its separators instead
// of being cut anywhere.
std::string WrappableHtml(const std::string& text)
{
    constexpr std::size_t kLongToken = 16;
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find(' ', from);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(from, end - from);
        if (token.size() <= kLongToken) {
            out += Html(token);
        } else {
            for (char c : token) {
                out += Html(std::string(1, c));
                if (c == '_' || c == '/' || c == '.' || c == ':' || c == '?' || c == '&') out += "<wbr>";
            }
        }
        if (end < text.size()) out += ' ';
        from = end + 1;
    }
    return out;
}

std::string TimeOfDay(double dateTime)
{
    const long long ms = std::llround((dateTime - std::floor(dateTime)) * 86400000.0) % 86400000;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
    return buf;
}
}  // namespace

TServiceLink::TServiceLink()
{
    wnd_ = CoreWindows()->AllocateHWnd([this](TMessage& m) { Dispatch(m); });
    std::random_device random;
    char buf[20];
    std::snprintf(buf, sizeof buf, "%08x%08x", random(), random());
    token_ = buf;
}

TServiceLink::~TServiceLink()
{
    if (IMessageWindows* windows = CoreWindows()) windows->DeallocateHWnd(wnd_);
}

std::uint32_t TServiceLink::RetryDelayMs(int failures)
{
    constexpr int steps = static_cast<int>(sizeof kBackOffMs / sizeof kBackOffMs[0]);
    if (failures < 1) return kBackOffMs[0];
    return failures <= steps ? kBackOffMs[failures - 1] : kSteadyRetryMs;
}

bool TServiceLink::Begin(const std::string& baseUrl, bool valid)
{
    CoreWindows()->KillTimer(wnd_, kRetryTimer);
    CoreWindows()->KillTimer(wnd_, kLoginTimer);
    baseUrl_ = baseUrl;
    failures_ = 0;
    nextTryTick_ = 0;
    if (!valid) {
        state_ = TLinkState::Refused;
        lastFailure_ = "The base URL '" + baseUrl + "' is not a valid http or https address.";
        lastReason_ = lastFailure_;
        if (OnConnectedChanged) OnConnectedChanged(false);
        reportedDisconnected_ = true;
        if (OnShowPage) OnShowPage(StatusPage());
        return false;
    }
    state_ = TLinkState::Connecting;
    if (OnLogin) OnLogin();
    return true;
}

void TServiceLink::LoginSent()
{
    // The login's page must come within the bound, whatever the engine says.
    if (state_ == TLinkState::Connecting) CoreWindows()->SetTimer(wnd_, kLoginTimer, kLoginWaitMs);
}

void TServiceLink::LoadFailed(const TNavigateErrorArgs& error)
{
    CoreWindows()->KillTimer(wnd_, kLoginTimer);
    if (state_ == TLinkState::Refused || state_ == TLinkState::Held) return;
    const TLoadFailure failure = DescribeLoadFailure(error);
    if (failure.Permanent) {
        // Trying again cannot mend it: held like a refused login.
        Hold(failure.Text());
        return;
    }
    lastReason_ = error.StatusCode > 0 ? "HTTP " + std::to_string(error.StatusCode) : error.Reason;
    Fail(failure.Text());
    if (exitStop_) AskExitQuestion(lastReason_);
}

void TServiceLink::AskExitQuestion(const std::string& reason)
{
    exitStop_ = false;
    CoreWindows()->KillTimer(wnd_, kExitTimer);
    // Asked from the message loop, not from inside the browser's event.
    exitReason_ = reason;
    CoreWindows()->PostMessage(wnd_, kExitQuestion, 0, 0);
}

void TServiceLink::Disconnected()
{
    if (reportedDisconnected_) return;
    reportedDisconnected_ = true;
    if (OnConnectedChanged) OnConnectedChanged(false);
}

void TServiceLink::Fail(const std::string& message)
{
    ++failures_;
    lastFailure_ = message;
    state_ = TLinkState::Reconnecting;
    const std::uint32_t delay = RetryDelayMs(failures_);
    IClock* clock = CoreClock();
    nextTryTick_ = clock->GetTickCount() + delay;
    nextTryTime_ = clock->Now() + delay / 86400000.0;
    CoreWindows()->SetTimer(wnd_, kRetryTimer, delay);
    Disconnected();
    if (OnShowPage) OnShowPage(StatusPage());
}

void TServiceLink::Hold(const std::string& message)
{
    if (state_ == TLinkState::Refused) return;
    CoreWindows()->KillTimer(wnd_, kRetryTimer);
    CoreWindows()->KillTimer(wnd_, kLoginTimer);
    nextTryTick_ = 0;
    lastFailure_ = message;
    lastReason_ = message;
    state_ = TLinkState::Held;
    // The hint says why, so the notice below is given anew.
    reportedDisconnected_ = false;
    Disconnected();
    if (OnShowPage) OnShowPage(StatusPage());
    if (exitStop_) AskExitQuestion(message);
}

std::string TServiceLink::Hint() const
{
    return state_ == TLinkState::Held ? lastFailure_ : std::string("Not connected");
}

void TServiceLink::LoadCompleted()
{
    CoreWindows()->KillTimer(wnd_, kLoginTimer);
    if (state_ == TLinkState::Refused || state_ == TLinkState::Held) return;
    failures_ = 0;
    nextTryTick_ = 0;
    state_ = TLinkState::Connected;
    CoreWindows()->KillTimer(wnd_, kRetryTimer);
    if (reportedDisconnected_) {
        reportedDisconnected_ = false;
        if (OnConnectedChanged) OnConnectedChanged(true);
    }
}

void TServiceLink::TryNow()
{
    if (state_ != TLinkState::Reconnecting && state_ != TLinkState::Held) return;
    CoreWindows()->KillTimer(wnd_, kRetryTimer);
    nextTryTick_ = 0;
    state_ = TLinkState::Connecting;
    if (OnLogin) OnLogin();
}

void TServiceLink::NetworkBack()
{
    // A refused login waits for the user, not for the network.
    if (state_ == TLinkState::Reconnecting) TryNow();
}

void TServiceLink::Relogin()
{
    if (state_ == TLinkState::Refused || state_ == TLinkState::Held) return;
    CoreWindows()->KillTimer(wnd_, kRetryTimer);
    state_ = TLinkState::Connecting;
    if (exitStop_) CoreWindows()->SetTimer(wnd_, kExitTimer, kExitStopWaitMs);
    if (OnLogin) OnLogin();
}

bool TServiceLink::BeginExitStop()
{
    if (ShowsStatusPage()) {
        // Nothing to submit the stop to: ask at once.
        exitReason_ = lastReason_.empty() ? std::string("not connected") : lastReason_;
        CoreWindows()->PostMessage(wnd_, kExitQuestion, 0, 0);
        return false;
    }
    exitStop_ = true;
    CoreWindows()->SetTimer(wnd_, kExitTimer, kExitStopWaitMs);
    return true;
}

void TServiceLink::CancelExitStop()
{
    exitStop_ = false;
    CoreWindows()->KillTimer(wnd_, kExitTimer);
}

std::string TServiceLink::TryNowUrl() const
{
    return std::string(kActionScheme) + "try-now/" + token_;
}

std::string TServiceLink::PreferencesUrl() const
{
    return std::string(kActionScheme) + "preferences/" + token_;
}

TLinkAction TServiceLink::ActionOf(const std::string& url) const
{
    // The engine may report the address in its own spelling: compared without case.
    const std::string u = LowerCase(url);
    if (u == LowerCase(TryNowUrl())) return TLinkAction::TryNow;
    if (u == LowerCase(PreferencesUrl())) return TLinkAction::Preferences;
    return TLinkAction::None;
}

std::string TServiceLink::StatusPage() const
{
    std::string body = "<p id=\"failure\">" + WrappableHtml(lastFailure_) + "</p>";
    if (state_ == TLinkState::Reconnecting)
        body += "<p id=\"next\">Next try at " + Html(FormatTime ? FormatTime(nextTryTime_) : TimeOfDay(nextTryTime_)) +
                ".</p>";
    if (state_ == TLinkState::Reconnecting || state_ == TLinkState::Held)
        body += "<p><a id=\"try-now\" href=\"" + Html(TryNowUrl()) + "\">Try now</a></p>";
    if (state_ == TLinkState::Held || state_ == TLinkState::Refused)
        body += "<p><a id=\"preferences\" href=\"" + Html(PreferencesUrl()) + "\">Preferences</a></p>";
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Not connected</title>"
           "<style>body{font:11px sans-serif;margin:4px;overflow-wrap:break-word}p{margin:0 0 6px}</style>"
           "</head><body>" +
           body + "</body></html>";
}

std::string TServiceLink::WaitingPage(const std::string& text) const
{
    // The status page's look, with its own line and no failure to try again.
    const std::string page = StatusPage();
    const std::size_t from = page.find("<body>") + 6, to = page.rfind("</body>");
    return page.substr(0, from) + "<p id=\"waiting\">" + Html(text) + "</p><p><a id=\"preferences\" href=\"" +
           Html(PreferencesUrl()) + "\">Preferences</a></p>" + page.substr(to);
}

void TServiceLink::Dispatch(TMessage& m)
{
    if (m.Msg == WM_TIMER && m.WParam == kRetryTimer) {
        SessionGuard([this] { TryNow(); });
    } else if (m.Msg == WM_TIMER && m.WParam == kLoginTimer) {
        CoreWindows()->KillTimer(wnd_, kLoginTimer);
        // The login ended without a page (cancelled, aborted, no answer at all).
        if (state_ != TLinkState::Connecting) return;
        const std::string reason = "no page came within " + std::to_string(kLoginWaitMs / 1000) + " seconds";
        SessionGuard([&] {
            // Heard as a failed load, by whatever waits for the login's page.
            if (OnLoginLost) OnLoginLost(reason);
            else LoadFailed({baseUrl_, 0, reason});
        });
    } else if (m.Msg == WM_TIMER && m.WParam == kExitTimer) {
        CoreWindows()->KillTimer(wnd_, kExitTimer);
        if (!exitStop_) return;
        exitStop_ = false;
        const std::string reason = "no answer within 10 seconds";
        SessionGuard([&] {
            if (OnExitStopFailed) OnExitStopFailed(reason);
        });
    } else if (m.Msg == kExitQuestion) {
        const std::string reason = exitReason_;
        SessionGuard([&] {
            if (OnExitStopFailed) OnExitStopFailed(reason);
        });
    }
}
