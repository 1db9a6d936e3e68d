#include "session/ClockMirror.h"

#include "platform/CoreServices.h"
#include "session/SessionErrors.h"

namespace {
constexpr UINT_PTR kSubmitTimer = 1;
constexpr UINT_PTR kPageTimer = 2;
constexpr UINT_PTR kBusyTimer = 3;
}

TClockMirror::TClockMirror()
{
    wnd_ = CoreWindows()->AllocateHWnd([this](TMessage& m) { Dispatch(m); });
}

TClockMirror::~TClockMirror()
{
    if (IMessageWindows* windows = CoreWindows()) windows->DeallocateHWnd(wnd_);
}

bool TClockMirror::Request(TClockState want, TIntentSource source, std::uint32_t breakSeconds)
{
    if (want == TClockState::Unknown) return false;
    if (intent_) {
        const TIntentSource pending = intent_->source;
        // Nothing overrides the exit. A press for what the last press asked
        // (a repeating key, the window not yet changed) adds nothing; one for
        // the other state takes its place, decided once the page is there.
        // The idle logic overrides only a press already submitted.
        if (pending == TIntentSource::Exit) return false;
        if (source == TIntentSource::Idle && (pending != TIntentSource::User || inFlight_ == Flight::None))
            return false;
        if (source == TIntentSource::User && pending == TIntentSource::User && intent_->want == want) return false;
        End(TIntentEnd::Replaced);
    }
    intent_ = TIntent{want, source, breakSeconds};
    Decide();
    return true;
}

void TClockMirror::Drop(TIntentSource source)
{
    if (intent_ && intent_->source == source) End(TIntentEnd::Dropped);
}

void TClockMirror::Decide()
{
    if (!intent_ || inFlight_ != Flight::None) return;
    if (OnNeedPage) OnNeedPage();
    if (PageBusy && PageBusy()) {
        // The page being loaded decides, if it comes within the bound.
        CoreWindows()->SetTimer(wnd_, kBusyTimer, kPageWaitMs);
        return;
    }
    if (!PageHasForm || !PageHasForm()) {
        // The idle logic waits for the timer page; the others only for one on its way.
        if (intent_->source == TIntentSource::Idle) return;
        if (intent_->source == TIntentSource::User && OnNoTimerPage && OnNoTimerPage()) return;
        End(TIntentEnd::NoTimerPage);
        return;
    }
    if (Shows() == intent_->want) {
        // Nothing to submit: the window shows what the page does.
        Show(current_, TShowKind::Reconcile);
        End(TIntentEnd::Done);
        return;
    }
    Submit();
}

void TClockMirror::Submit()
{
    intent_->submitted = true;
    inFlight_ = Flight::Submitted;
    CoreWindows()->SetTimer(wnd_, kSubmitTimer, kSubmitWaitMs);
    // The engine may report the navigation, and even its page, inside this call.
    if (OnSubmit) OnSubmit();
}

void TClockMirror::SubmissionNavigating()
{
    // Also a submission of the page's own button: its page is awaited the same way.
    StopWatch();
    inFlight_ = Flight::Navigating;
    // Its page must come within the bound, whatever the engine reports.
    CoreWindows()->SetTimer(wnd_, kPageTimer, kPageWaitMs);
}

void TClockMirror::PageCompleted(const TPageClock& page, bool loginSubmitted)
{
    const bool answered = inFlight_ != Flight::None;  // this page answers a submission
    inFlight_ = Flight::None;
    StopWatch();
    current_ = page.startStopForm ? page.state : TClockState::Unknown;
    if (current_ != TClockState::Unknown) {
        page_ = current_;
        since_ = page.since;
    }
    if (answered && intent_ && page.loginForm && !page.startStopForm) {
        // The service answered the submission with its login page: the
        // session has expired. One fresh login per intent; its timer page decides.
        if (!intent_->reloggedIn) {
            intent_->reloggedIn = true;
            // Not carried out yet: the window shows what a timer page showed
            // last until the page after the login decides.
            Show(page_, TShowKind::Revert);
            if (OnRelogin) OnRelogin();
            return;
        }
        // Not carried out: the window goes back to what a timer page showed last.
        Show(page_, TShowKind::Revert);
        End(TIntentEnd::Expired);
        return;
    }
    if (loginSubmitted) return;
    if (intent_ && intent_->reloggedIn && page.loginForm && !page.startStopForm) {
        // The fresh login brought no session either.
        Show(page_, TShowKind::Revert);
        End(TIntentEnd::Expired);
        return;
    }
    if (!page.startStopForm) {
        // A submission answered by some other page: not carried out, as far
        // as the window knows; it shows what a timer page showed last.
        if (answered) Show(page_, TShowKind::Revert);
        Decide();
        return;
    }
    if (!intent_) {
        Show(current_, TShowKind::Reconcile);
        return;
    }
    if (Shows() == intent_->want) {
        Show(current_, TShowKind::Reconcile);
        End(TIntentEnd::Done);
    } else if (answered && intent_->submitted) {
        Show(current_, TShowKind::Reconcile);
        End(TIntentEnd::NotTaken);
    } else {
        // The window shows what this submission brings; no word in between.
        Submit();
    }
}

bool TClockMirror::LoadFailed(int statusCode)
{
    const bool answered = inFlight_ != Flight::None;
    inFlight_ = Flight::None;
    StopWatch();
    current_ = TClockState::Unknown;
    const bool refused = statusCode == 401 || statusCode == 403;
    if (answered && refused && intent_ && !intent_->reloggedIn) {
        // Refused for want of a session: log in again, as for a login page.
        intent_->reloggedIn = true;
        if (OnRelogin) OnRelogin();
        return true;
    }
    if (answered) {
        // Whether the service took it is not known: the window goes back to
        // what a page showed last, and the next page says how things stand.
        announceNext_ = true;
        Show(page_, TShowKind::Revert);
    }
    // The idle logic waits for the timer page; the exit's failure is the link's question.
    if (!refused && intent_ && intent_->source == TIntentSource::User) End(TIntentEnd::Failed);
    return false;
}

void TClockMirror::ServiceHeld()
{
    current_ = TClockState::Unknown;
    if (intent_ && intent_->source == TIntentSource::User) End(TIntentEnd::Failed);
}

void TClockMirror::Abandon()
{
    if (inFlight_ == Flight::None) return;
    inFlight_ = Flight::None;
    StopWatch();
    announceNext_ = true;
    Show(page_, TShowKind::Revert);
}

TClockState TClockMirror::Shows() const
{
    // A form whose state cannot be read is taken to show what the window does.
    if (current_ != TClockState::Unknown) return current_;
    return ShownState ? ShownState() : TClockState::Unknown;
}

void TClockMirror::Show(TClockState state, TShowKind kind)
{
    if (state == TClockState::Unknown) return;
    if (kind != TShowKind::Revert) {
        if (announceNext_) kind = TShowKind::Announce;
        announceNext_ = false;
    }
    if (OnShow) OnShow(state, kind);
}

void TClockMirror::End(TIntentEnd why)
{
    CoreWindows()->KillTimer(wnd_, kBusyTimer);
    const TIntent ended = *intent_;
    intent_.reset();
    if (OnEnded) OnEnded(ended, why);
}

void TClockMirror::StopWatch()
{
    CoreWindows()->KillTimer(wnd_, kSubmitTimer);
    CoreWindows()->KillTimer(wnd_, kPageTimer);
    CoreWindows()->KillTimer(wnd_, kBusyTimer);
}

void TClockMirror::Dispatch(TMessage& m)
{
    if (m.Msg == WM_TIMER && m.WParam == kBusyTimer) {
        CoreWindows()->KillTimer(wnd_, kBusyTimer);
        // The page an intent waited for never finished loading.
        if (intent_ && inFlight_ == Flight::None && PageBusy && PageBusy()) SessionGuard([this] {
                if (OnPageLost) OnPageLost();
            });
        return;
    }
    if (m.Msg == WM_TIMER && m.WParam == kPageTimer) {
        StopWatch();
        // The submission's load ended without a page, or never ends: the
        // window hears it as a failed load of the service.
        if (inFlight_ == Flight::Navigating) SessionGuard([this] {
                if (OnPageLost) OnPageLost();
            });
        return;
    }
    if (m.Msg != WM_TIMER || m.WParam != kSubmitTimer) return;
    StopWatch();
    if (inFlight_ != Flight::Submitted) return;
    // The form was submitted but nothing navigated.
    inFlight_ = Flight::None;
    if (intent_) SessionGuard([this] { End(TIntentEnd::NoNavigation); });
}
