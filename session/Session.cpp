#include "session/Session.h"

#include <utility>

#include "platform/TraceMarks.h"
#include "session/EngineErrors.h"

namespace {
const char* const kRefusedMessage = "The service did not accept the user name and password.";
const char* const kKeyringWaiting = "Waiting for the desktop's keyring\u2026";
}  // namespace

TSession::TSession(ISessionView& view) : view_(view)
{
    Link.OnLogin = [this] { NavigateLogin(); };
    Link.OnShowPage = [this](const std::string& html) {
        TraceMark("status-page");
        waitingPage_ = false;
        view_.ShowLocalPage(html);
    };
    Link.OnLoginLost = [this](const std::string& reason) { LoadFailed({Link.BaseUrl(), 0, reason}); };
    Mirror.PageBusy = [this] { return view_.PageBusy(); };
    Mirror.PageHasForm = [this] { return view_.ReadPage(view_.PageSource()).startStopForm; };
    Mirror.OnSubmit = [this] { view_.RunScript(TServiceUrls::ToggleScript()); };
    Mirror.OnPageLost = [this] {
        LoadFailed({Link.BaseUrl(), 0, "no page came within " + std::to_string(TClockMirror::kPageWaitMs / 1000) + " seconds"});
    };
    Mirror.OnNoTimerPage = [this] {
        // A press while the service is being tried again: tried at once, and
        // the press waits for the timer page that brings.
        if (Link.State() == TLinkState::Reconnecting) Link.TryNow();
        return Link.State() == TLinkState::Connecting;
    };
    Mirror.OnRelogin = [this] { Relogin(); };
}

TServiceUrls TSession::Urls() const
{
    const std::string base = Link.BaseUrl().empty() ? CurrentSettings().BaseURL : Link.BaseUrl();
    return TServiceUrls(base, [this](const std::string& url) { return view_.CanonicalUrl(url); });
}

void TSession::PostLogin()
{
    if (loginPosted_) return;
    loginPosted_ = true;
    Begin();
}

void TSession::Begin()
{
    // The server settings of now: also those the first run's preferences just took.
    sessionSettings_ = CurrentSettings();
    const std::string base = sessionSettings_.BaseURL;
    LoginURL = TServiceUrls(base, [this](const std::string& url) { return view_.CanonicalUrl(url); })
                   .Login(sessionSettings_.Username);
    LoginPageCount = 0;
    loginFormPosted_ = false;
    credentialsPosted_ = false;
    restoring_ = false;
    if (!Link.Begin(base, view_.ValidBaseUrl(base))) view_.BaseUrlRefused();
}

void TSession::NavigateLogin()
{
    if (restoring_) {
        // Back after a rest: the engine still holds the service's session,
        // so the timer page comes without the credentials unless it expired.
        TraceMark("page-reload");
        view_.Navigate(Urls().TimerPage(), "");
        Link.LoginSent();
        return;
    }
    // A password kept in the desktop's keyring is posted once the keyring has given it.
    std::string unavailable;
    keyringHeld_ = false;
    switch (view_.PasswordForLogin(
        [this] {
            if (Link.State() == TLinkState::Connecting) NavigateLogin();
            // Given later by a keyring that was not there: the held login goes on.
            else if (Link.State() == TLinkState::Held && keyringHeld_) Link.TryNow();
        },
        unavailable)) {
    case TLoginPassword::Ready: break;
    case TLoginPassword::Waiting:
        // The keyring may be showing its unlock prompt: the window says what it waits for.
        if (!waitingPage_) {
            waitingPage_ = true;
            TraceMark("keyring-waiting-page");
            view_.ShowLocalPage(Link.WaitingPage(kKeyringWaiting));
        }
        return;
    case TLoginPassword::Unavailable:
        keyringHeld_ = true;
        Hold(unavailable);
        return;
    }
    // A fresh login after a failure may fill in the login form once more.
    if (Link.Failures() > 0) LoginPageCount = 0;
    loginFormPosted_ = false;
    // The credentials of now: a refused login is tried again with what the user typed since.
    const TSettings& settings = CurrentSettings();
    sessionSettings_.Username = settings.Username;
    sessionSettings_.Password = settings.Password;
    LoginURL = Urls().Login(settings.Username);
    credentialsPosted_ = !settings.Password.empty();
    TraceMark("login-navigate");
    view_.Navigate(LoginURL, TServiceUrls::LoginPost(settings.Password));
    Link.LoginSent();
    TraceMark("login-navigated");
}

void TSession::Relogin()
{
    TraceMark("relogin");
    // No login goes out until the user acts: a start or stop waiting for one ends now.
    if (Link.State() == TLinkState::Held || Link.State() == TLinkState::Refused) {
        restoring_ = false;
        Mirror.ServiceHeld();
        return;
    }
    // Not counted against the one auto-login: the fresh login may fill in the form once.
    LoginPageCount = 0;
    Link.Relogin();
}

void TSession::LoginRefused()
{
    TraceMark("login-refused");
    loginFormPosted_ = false;
    Hold(kRefusedMessage);
    view_.LoginRefused(kRefusedMessage);
}

void TSession::Hold(const std::string& message)
{
    Link.Hold(message);
    Mirror.ServiceHeld();
}

void TSession::PreferencesClosed()
{
    // Before the first login nothing is to be done: it reads the settings when it goes.
    if (!loginPosted_) return;
    // Changed server settings start the session afresh with them, a held
    // login included; the timer page they bring decides any start or stop waiting.
    if (CurrentSettings().SameServer(sessionSettings_)) return;
    TraceMark("server-settings-changed");
    Begin();
}

void TSession::LoadEnded(const std::string& url)
{
    TraceMark("load-ended");
    // Only a load the session waits for counts: a start's or stop's, a login's.
    if (!Mirror.InFlight() && Link.State() != TLinkState::Connecting) return;
    LoadFailed({url, 0, "the service sent no page"});
}

void TSession::LoadFailed(const TNavigateErrorArgs& error)
{
    TraceMark("load-failed");
    restoring_ = false;
    credentialsPosted_ = false;
    const int statusCode = error.StatusCode;
    // Refused, unknown or untrusted before a request could go: nothing reached the service.
    lastFailureReached_ = statusCode > 0 || !DescribeLoadFailure(error).NothingSent;
    // A 401 or 403 answering a start or stop: the session is renewed first.
    if (Mirror.LoadFailed(statusCode)) return;
    if (statusCode == 401 || statusCode == 403) {
        LoginRefused();
        return;
    }
    const bool held = Link.State() == TLinkState::Held;
    Link.LoadFailed(error);
    // A failure no retry mends holds the link as Hold does.
    if (!held && Link.State() == TLinkState::Held) Mirror.ServiceHeld();
}

void TSession::BeforeNavigate(const std::string& url, bool& cancel)
{
    // The status page's links are the program's own, whatever state the link is in.
    switch (Link.ActionOf(url)) {
    case TLinkAction::TryNow:
        cancel = true;
        Link.TryNow();
        return;
    case TLinkAction::Preferences:
        cancel = true;
        view_.ShowServerPreferences();
        return;
    case TLinkAction::None: break;
    }
    const TServicePage kind = Urls().Classify(url);
    // A timer page or a submission after the login's request: whatever page
    // comes now answers that, not the credentials (a login page then means
    // the session expired, not that the password was refused).
    if (kind != TServicePage::LoginPage && kind != TServicePage::Other) credentialsPosted_ = false;
    if (kind == TServicePage::Start || kind == TServicePage::Stop) {
        // A start or stop on its way: shown now, and the page it brings has the last word.
        view_.SubmissionShown(kind == TServicePage::Start, Mirror.InFlight());
        Mirror.SubmissionNavigating();
        return;
    }
    // Any other timer page says how the clock stands once it has loaded; the
    // login page (also a redirect to it that names where to go next) is the service's.
    if (kind != TServicePage::Other) return;
    const std::string lower = LowerCase(url);
    const bool outside = (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) && url != "about:blank";
    if (!outside) return;
    cancel = true;
    view_.OpenOutside(url);
}

void TSession::PageCompleted(const std::string& url, bool localPage)
{
    TraceMark("document-complete");
    // The keyring's waiting page says nothing of the service either, also
    // when it completes after the login went out.
    if (localPage && waitingPage_ && !Link.ShowsStatusPage()) return;
    if (!localPage) waitingPage_ = false;
    // The program's own status page says nothing about the service; a press
    // that waited for it to load is decided now (the exit's failure is the
    // link's question, and the idle logic waits for the timer page).
    if (localPage && Link.ShowsStatusPage()) {
        if (Mirror.Pending() && Mirror.Pending()->source == TIntentSource::User) Mirror.Decide();
        return;
    }
    const std::string html = view_.PageSource();
    const TPageClock page = view_.ReadPage(html);
    const TSettings& settings = CurrentSettings();
    const bool hasPassword = !settings.Password.empty();
    const bool wasRestoring = std::exchange(restoring_, false);
    const bool credentialsWent = std::exchange(credentialsPosted_, false);
    Link.LoadCompleted();
    view_.PageShown();
    if (wasRestoring && page.loginForm && !page.startStopForm && hasPassword) {
        // The engine's session has expired meanwhile: the stored credentials log in again.
        Relogin();
        return;
    }
    const bool atLoginAddress =
        !LoginURL.empty() && LowerCase(view_.CanonicalUrl(url)) == LowerCase(view_.CanonicalUrl(LoginURL));
    const bool redirectedToLogin =
        credentialsWent && !atLoginAddress && Urls().Classify(url) == TServicePage::LoginPage;
    if (page.loginForm && hasPassword && (loginFormPosted_ || redirectedToLogin)) {
        // The login form came back after the stored password went out, in
        // the form or with the login's request: the service refused it.
        LoginRefused();
        return;
    }
    loginFormPosted_ = false;
    bool loginSubmitted = false;
    // The one auto-login is spent only on a page that holds the login form.
    if (atLoginAddress && hasPassword && page.loginForm) {
        if (LoginPageCount++ == 0) {
            view_.AutoLoginStarts();
            loginSubmitted = true;
            loginFormPosted_ = true;
            view_.RunScript(TServiceUrls::FillLoginScript(ShownPassword ? ShownPassword(settings.Password)
                                                                        : settings.Password));
        }
    } else if (page.loginForm && !hasPassword && view_.PageSetUp()) {
        // The user types the password into the page (the first one gets it at the first paint).
        view_.RunScript(TServiceUrls::FocusPasswordScript());
    }
    view_.PageRead(html);
    // The page is the last word on the clock; a start or stop waiting for it is decided now.
    Mirror.PageCompleted(page, loginSubmitted);
}

void TSession::NeedPage(bool windowShownOnce, bool outOfSight)
{
    // Needed before the first login went out (it waits for the window's map): it goes now.
    if (windowShownOnce && !loginPosted_ && !view_.HasPage() && !view_.PageBusy()) {
        PostLogin();
        return;
    }
    if (!view_.PageLetGo()) return;
    TraceMark("page-restore");
    // Loaded again with the engine's session: the timer page has the last
    // word on the clock, and a start or stop waiting for it is decided then.
    // The credentials go out only if the service asks for them.
    restoring_ = true;
    Relogin();
    if (Link.State() != TLinkState::Connecting) restoring_ = false;
    // Still out of sight (a start or stop from the tray): let go again later.
    if (outOfSight) view_.PageBackOutOfSight();
}

bool TSession::PageAtRest() const
{
    return !view_.PageBusy() && !Mirror.Pending() && Link.State() == TLinkState::Connected &&
           !Link.ExitStopPending();
}

bool TSession::ClockChangeOnItsWay() const
{
    if (Mirror.InFlight() || Mirror.Unsure()) return true;
    const std::optional<TIntent>& pending = Mirror.Pending();
    return pending && pending->want == TClockState::Stopped && pending->submitted;
}

std::string TSession::PressEnded(const TIntent& intent, TIntentEnd why, bool& pageAlert) const
{
    pageAlert = false;
    const std::string done = intent.want == TClockState::Running ? "started" : "stopped";
    switch (why) {
    case TIntentEnd::Failed:
        // Refused: the service answered with its login page, nothing was carried out.
        if (Link.State() == TLinkState::Held) return Link.LastFailure() + " The clock was not " + done + ".";
        if (intent.submitted && lastFailureReached_)
            return "Could not reach the service: the clock may not have been " + done +
                   ". The window shows the service's clock when it answers again.";
        if (intent.submitted) return "Could not reach the service: the clock was not " + done + ".";
        return "Not connected to the service: the clock was not " + done + ".";
    case TIntentEnd::Expired: return "The service asked for a login again: the clock was not " + done + ".";
    case TIntentEnd::NoTimerPage:
        if (Link.Connected()) {
            pageAlert = true;
            return {};
        }
        return "Not connected to the service: the clock cannot be " + done + " now.";
    default: return {};
    }
}

std::string TSession::ExitStopFailure(TIntentEnd why)
{
    switch (why) {
    case TIntentEnd::Done:
    case TIntentEnd::Dropped:
    case TIntentEnd::Replaced: return {};
    case TIntentEnd::NoTimerPage: return "the timer page is not shown";
    case TIntentEnd::Expired: return "the service asked for a login again";
    case TIntentEnd::NotTaken: return "the service did not take the stop";
    default: return "the stop did not go out";
    }
}
