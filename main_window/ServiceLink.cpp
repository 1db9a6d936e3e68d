#include "main_window/ServiceLink.h"

#include <QRandomGenerator>
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
// No engine opens this scheme, so a link of the status page never leaves the program.
constexpr const char* kActionScheme = "chronel-timer:";

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
    token_ = QString::number(QRandomGenerator::global()->generate64(), 16).toStdString();
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

void TServiceLink::LoadFailed(const std::string& url, int statusCode, const std::string& reason)
{
    if (state_ == TLinkState::Refused || state_ == TLinkState::Held) return;
    lastReason_ = statusCode > 0 ? "HTTP " + std::to_string(statusCode) : reason;
    Fail(statusCode > 0 ? "The service answered HTTP " + std::to_string(statusCode)
                        : "Cannot reach " + HostOf(url) + ": " + reason);
    if (exitStop_) AskExitQuestion(lastReason_);
}

void TServiceLink::AskExitQuestion(const std::string& reason)
{
    exitStop_ = false;
    CurrentPlatform().Windows->KillTimer(wnd_, kExitTimer);
    // Asked from the message loop, not from inside the browser's event.
    exitReason_ = reason;
    CurrentPlatform().Windows->PostMessage(wnd_, kExitQuestion, 0, 0);
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
    IClock* clock = CurrentPlatform().Clock;
    nextTryTick_ = clock->GetTickCount() + delay;
    nextTryTime_ = clock->Now() + delay / 86400000.0;
    CurrentPlatform().Windows->SetTimer(wnd_, kRetryTimer, delay);
    Disconnected();
    if (OnShowPage) OnShowPage(StatusPage());
}

void TServiceLink::Hold(const std::string& message)
{
    if (state_ == TLinkState::Refused) return;
    CurrentPlatform().Windows->KillTimer(wnd_, kRetryTimer);
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
    if (state_ == TLinkState::Refused || state_ == TLinkState::Held) return;
    failures_ = 0;
    nextTryTick_ = 0;
    state_ = TLinkState::Connected;
    CurrentPlatform().Windows->KillTimer(wnd_, kRetryTimer);
    if (reportedDisconnected_) {
        reportedDisconnected_ = false;
        if (OnConnectedChanged) OnConnectedChanged(true);
    }
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
    // A refused login waits for the user, not for the network.
    if (state_ == TLinkState::Reconnecting) TryNow();
}

void TServiceLink::Relogin()
{
    if (state_ == TLinkState::Refused || state_ == TLinkState::Held) return;
    CurrentPlatform().Windows->KillTimer(wnd_, kRetryTimer);
    state_ = TLinkState::Connecting;
    if (exitStop_) CurrentPlatform().Windows->SetTimer(wnd_, kExitTimer, kExitStopWaitMs);
    if (OnLogin) OnLogin();
}

bool TServiceLink::BeginExitStop()
{
    if (ShowsStatusPage()) {
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
    return std::string(kActionScheme) + "try-now/" + token_;
}

std::string TServiceLink::PreferencesUrl() const
{
    return std::string(kActionScheme) + "preferences/" + token_;
}

TLinkAction TServiceLink::ActionOf(const std::string& url) const
{
    // The engine may report the address in its own spelling: compared without case.
    const QString u = QString::fromStdString(url);
    if (u.compare(QString::fromStdString(TryNowUrl()), Qt::CaseInsensitive) == 0) return TLinkAction::TryNow;
    if (u.compare(QString::fromStdString(PreferencesUrl()), Qt::CaseInsensitive) == 0)
        return TLinkAction::Preferences;
    return TLinkAction::None;
}

std::string TServiceLink::StatusPage() const
{
    std::string body = "<p id=\"failure\">" + Html(lastFailure_) + "</p>";
    if (state_ == TLinkState::Reconnecting)
        body += "<p id=\"next\">Next try at " + Html(FormatLongTime(nextTryTime_)) + ".</p>";
    if (state_ == TLinkState::Reconnecting || state_ == TLinkState::Held)
        body += "<p><a id=\"try-now\" href=\"" + Html(TryNowUrl()) + "\">Try now</a></p>";
    if (state_ == TLinkState::Held)
        body += "<p><a id=\"preferences\" href=\"" + Html(PreferencesUrl()) + "\">Preferences</a></p>";
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
