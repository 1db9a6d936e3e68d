#include "main_window/ServiceLink.h"

#include <QString>
#include <QUrl>

#include "components/Application.h"
#include "components/Format.h"
#include "platform/Platform.h"

namespace {
constexpr UINT_PTR kRetryTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
constexpr UINT kExitQuestion = WM_USER + 1;
constexpr std::uint32_t kBackOffMs[] = {5000, 15000, 30000, 60000};
constexpr std::uint32_t kSteadyRetryMs = 120000;

std::string Html(const std::string& text)
{
    return QString::fromStdString(text).toHtmlEscaped().toStdString();
}

// "host:port" as the user typed the address, for the status line.
std::string HostOf(const std::string& url)
{
    const QUrl u(QString::fromStdString(url));
    if (u.host().isEmpty()) return url;
    std::string host = u.host().toStdString();
    if (u.port() >= 0) host += ":" + std::to_string(u.port());
    return host;
}
}  // namespace

TServiceLink::TServiceLink()
{
    wnd_ = CurrentPlatform().Windows->AllocateHWnd([this](TMessage& m) { Dispatch(m); });
}

TServiceLink::~TServiceLink()
{
    if (IMessageWindows* windows = CurrentPlatform().Windows) windows->DeallocateHWnd(wnd_);
}

std::uint32_t TServiceLink::RetryDelayMs(int failures)
{
    constexpr int steps = static_cast<int>(sizeof kBackOffMs / sizeof kBackOffMs[0]);
    if (failures < 1) return kBackOffMs[0];
    return failures <= steps ? kBackOffMs[failures - 1] : kSteadyRetryMs;
}

bool TServiceLink::Begin(const std::string& baseUrl)
{
    baseUrl_ = baseUrl;
    if (!IsValidBaseUrl(baseUrl)) {
        state_ = TLinkState::Refused;
        lastFailure_ = InvalidBaseUrlMessage(baseUrl);
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

void TServiceLink::LoadFailed(const std::string& url, const std::string& reason)
{
    if (state_ == TLinkState::Refused) return;
    lastReason_ = reason;
    const TTransition undone = awaiting_;
    awaiting_ = TTransition::None;
    if (undone != TTransition::None && OnRevert) OnRevert(undone);
    Fail("Cannot reach " + HostOf(url) + ": " + reason);
    if (exitStop_) {
        exitStop_ = false;
        CurrentPlatform().Windows->KillTimer(wnd_, kExitTimer);
        // Asked from the message loop, not from inside the browser's event.
        exitReason_ = reason;
        CurrentPlatform().Windows->PostMessage(wnd_, kExitQuestion, 0, 0);
    }
}

void TServiceLink::Fail(const std::string& message)
{
    ++failures_;
    lastFailure_ = message;
    state_ = TLinkState::Reconnecting;
    const std::uint32_t delay = RetryDelayMs(failures_);
    IClock* clock = CurrentPlatform().Clock;
    nextTryTick_ = clock->GetTickCount() + delay;
    nextTryTime_ = clock->Now() + delay / 86400000.0;
    CurrentPlatform().Windows->SetTimer(wnd_, kRetryTimer, delay);
    if (!reportedDisconnected_) {
        reportedDisconnected_ = true;
        if (OnConnectedChanged) OnConnectedChanged(false);
    }
    if (OnShowPage) OnShowPage(StatusPage());
}

void TServiceLink::LoadCompleted()
{
    if (state_ == TLinkState::Refused) return;
    awaiting_ = TTransition::None;
    failures_ = 0;
    nextTryTick_ = 0;
    state_ = TLinkState::Connected;
    CurrentPlatform().Windows->KillTimer(wnd_, kRetryTimer);
    if (reportedDisconnected_) {
        reportedDisconnected_ = false;
        if (OnConnectedChanged) OnConnectedChanged(true);
    }
}

void TServiceLink::Hold(const std::string& message)
{
    CurrentPlatform().Windows->KillTimer(wnd_, kRetryTimer);
    nextTryTick_ = 0;
    state_ = TLinkState::Held;
    lastFailure_ = message;
    lastReason_ = message;
    if (!reportedDisconnected_) {
        reportedDisconnected_ = true;
        if (OnConnectedChanged) OnConnectedChanged(false);
    }
    if (OnShowPage) OnShowPage(StatusPage());
}

void TServiceLink::TryNow()
{
    if (state_ != TLinkState::Reconnecting && state_ != TLinkState::Held) return;
    CurrentPlatform().Windows->KillTimer(wnd_, kRetryTimer);
    nextTryTick_ = 0;
    state_ = TLinkState::Connecting;
    if (OnLogin) OnLogin();
}

void TServiceLink::NetworkBack()
{
    // A held login waits for the user, not for the network.
    if (state_ == TLinkState::Reconnecting) TryNow();
}

void TServiceLink::TransitionMirrored(TTransition transition)
{
    if (state_ == TLinkState::Refused) return;
    awaiting_ = transition;
}

bool TServiceLink::BeginExitStop()
{
    if (state_ == TLinkState::Reconnecting || state_ == TLinkState::Refused || state_ == TLinkState::Held) {
        // Nothing to submit the stop to: ask at once.
        exitReason_ = lastReason_.empty() ? std::string("not connected") : lastReason_;
        CurrentPlatform().Windows->PostMessage(wnd_, kExitQuestion, 0, 0);
        return false;
    }
    exitStop_ = true;
    CurrentPlatform().Windows->SetTimer(wnd_, kExitTimer, kExitStopWaitMs);
    return true;
}

void TServiceLink::CancelExitStop()
{
    exitStop_ = false;
    CurrentPlatform().Windows->KillTimer(wnd_, kExitTimer);
}

std::string TServiceLink::TryNowUrl() const
{
    return baseUrl_ + "index.php#try-now";
}

bool TServiceLink::IsTryNowUrl(const std::string& url) const
{
    return (state_ == TLinkState::Reconnecting || state_ == TLinkState::Held) && !baseUrl_.empty() &&
           url == TryNowUrl();
}

std::string TServiceLink::StatusPage() const
{
    std::string body = "<p id=\"failure\">" + Html(lastFailure_) + "</p>";
    if (state_ == TLinkState::Reconnecting)
        body += "<p id=\"next\">Next try at " + Html(FormatLongTime(nextTryTime_)) + ".</p>";
    if (state_ == TLinkState::Reconnecting || state_ == TLinkState::Held)
        body += "<p><a id=\"try-now\" href=\"" + Html(TryNowUrl()) + "\">Try now</a></p>";
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Not connected</title>"
           "<style>body{font:11px sans-serif;margin:4px;overflow-wrap:anywhere}p{margin:0 0 6px}</style>"
           "</head><body>" +
           body + "</body></html>";
}

void TServiceLink::Dispatch(TMessage& m)
{
    if (m.Msg == WM_TIMER && m.WParam == kRetryTimer) {
        Application().Guard([this] { TryNow(); });
    } else if (m.Msg == WM_TIMER && m.WParam == kExitTimer) {
        CurrentPlatform().Windows->KillTimer(wnd_, kExitTimer);
        if (!exitStop_) return;
        exitStop_ = false;
        const std::string reason = "no answer within 10 seconds";
        Application().Guard([&] {
            if (OnExitStopFailed) OnExitStopFailed(reason);
        });
    } else if (m.Msg == kExitQuestion) {
        const std::string reason = exitReason_;
        Application().Guard([&] {
            if (OnExitStopFailed) OnExitStopFailed(reason);
        });
    }
}
