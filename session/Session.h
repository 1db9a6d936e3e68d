#pragma once
// The session with the work-log service, without the toolkit: the login
// (with the settings of now, again when they change), what each page of the
// service means (the timer page, a start or stop on its way, the login page,
// a refusal), the page given back while out of sight and brought back, and
// the exit's wait for a stop. Events come in from the window and its
// browser; what is to be shown or loaded goes out through ISessionView.
#include <functional>
#include <string>

#include "session/ClockMirror.h"
#include "session/PageClock.h"
#include "session/ServiceLink.h"
#include "session/ServiceUrls.h"
#include "session/Settings.h"

// The keyring's answer for the password the login posts.
enum class TLoginPassword { Ready, Waiting, Unavailable };

// What the session needs of the window and its browser.
class ISessionView {
public:
    virtual ~ISessionView() = default;
    // Loads url, posting postData when it is not empty.
    virtual void Navigate(const std::string& url, const std::string& postData) = 0;
    virtual void RunScript(const std::string& script) = 0;
    virtual void ShowLocalPage(const std::string& html) = 0;
    // The source of the page shown now, and what it says of the clock.
    virtual std::string PageSource() = 0;
    virtual TPageClock ReadPage(const std::string& html) = 0;
    virtual bool PageBusy() = 0;
    virtual bool PageLetGo() = 0;  // given back while out of sight
    virtual bool HasPage() = 0;    // a document is shown
    // The spelling of an address the engine reports, so that addresses compare.
    virtual std::string CanonicalUrl(const std::string& url) = 0;
    virtual bool ValidBaseUrl(const std::string& url) = 0;
    virtual void BaseUrlRefused() = 0;
    // The password for the login; whenReady runs when the keyring answers later.
    virtual TLoginPassword PasswordForLogin(std::function<void()> whenReady, std::string& unavailable) = 0;
    // A page of the service completed: shown (its menu set up), then read (its work item).
    virtual void PageShown() = 0;
    virtual void PageRead(const std::string& html) = 0;
    // The window has set its page up (the first paint): focus scripts may run.
    virtual bool PageSetUp() = 0;
    // A start (or stop) navigates: shown at once; ours is the intent it carries out, if any.
    virtual void SubmissionShown(bool start, const TIntent* ours) = 0;
    // A link the user followed out of the service's pages.
    virtual void OpenOutside(const std::string& url) = 0;
    virtual void ShowServerPreferences() = 0;
    // The one filling-in of the login form is about to happen.
    virtual void AutoLoginStarts() = 0;
    // The page came back while the window is out of sight.
    virtual void PageBackOutOfSight() = 0;
    // The service refused the login: told where a hidden window's user sees it too.
    virtual void LoginRefused(const std::string& message) = 0;
};

class TSession {
public:
    explicit TSession(ISessionView& view);
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    TServiceLink Link;
    TClockMirror Mirror;
    // The login address as last posted, and the logins filled in on its page.
    std::string LoginURL;
    int LoginPageCount = 0;

    // The first login, once (after the window's map, or earlier when needed).
    void PostLogin();
    bool LoginPosted() const { return loginPosted_; }
    // Logs in afresh with the settings of now.
    void Begin();
    // Logs in again at once (the session expired); nothing while the login is held.
    void Relogin();
    // The service refused the stored credentials: nothing is posted again unasked.
    void LoginRefused();
    void Hold(const std::string& message);
    // The preferences were closed: changed server settings start the session afresh.
    void PreferencesClosed();

    // The browser's events.
    void BeforeNavigate(const std::string& url, bool& cancel);
    // localPage: the program's own page (LoadHtml) completed.
    void PageCompleted(const std::string& url, bool localPage);
    // A top-level load failed, with all the engine said of it.
    void LoadFailed(const TNavigateErrorArgs& error);
    void LoadEnded(const std::string& url);

    // The page is needed (the window shown, a start or stop): brought back when it was let go.
    void NeedPage(bool windowShownOnce, bool outOfSight);
    // Whether the page may be let go now: loaded, connected, nothing on its way.
    bool PageAtRest() const;
    // A stop (or a start) is on its way, or its answer was lost: the window's
    // clock is not yet the service's word.
    bool ClockChangeOnItsWay() const;
    // What the user is told when a press ended without being carried out
    // (empty: nothing); pageAlert: the page's own alert says it instead.
    std::string PressEnded(const TIntent& intent, TIntentEnd why, bool& pageAlert) const;
    // Why the exit's stop did not happen (empty: it ended without failing).
    static std::string ExitStopFailure(TIntentEnd why);
    // The service's addresses (of the settings in force before the first login).
    TServiceUrls Urls() const;
    // The password as a script holds it (the settings keep the file's bytes).
    std::function<std::string(const std::string& bytes)> ShownPassword;

private:
    void NavigateLogin();

    ISessionView& view_;
    TSettings sessionSettings_;  // the server settings the session logged in with
    bool loginPosted_ = false;
    bool loginFormPosted_ = false;    // the stored password went out through the login form
    bool credentialsPosted_ = false;  // the stored password went out with the login's request
    // The page comes back after a rest: the timer page is loaded with the
    // engine's session, and the credentials go only where the service asks.
    bool restoring_ = false;
    // The last failed load may have reached the service (an answer lost on its way back).
    bool lastFailureReached_ = true;
    // The keyring's waiting page was shown and no page of the service since.
    bool waitingPage_ = false;
    // The login is held because the keyring did not give the password.
    bool keyringHeld_ = false;
};
