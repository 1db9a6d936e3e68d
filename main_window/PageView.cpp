#include "main_window/PageView.h"

#include <QTabWidget>
#include <QTimer>

#include "browser/TCppWebBrowserUtils.h"
#include "components/Application.h"
#include "main_window/ChronelUnit.h"
#include "main_window/WebSession.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"
#include "prefs/frmPrefsUnit.h"

void TPageView::Navigate(const std::string& url, const std::string& postData)
{
    WebBrowserNavigatePost(form_.Web.get(), url, postData);
}

void TPageView::RunScript(const std::string& script)
{
    WebBrowserExecScript(form_.Web.get(), script);
}

void TPageView::ShowLocalPage(const std::string& html)
{
    form_.Web->LoadHtml(html);
}

std::string TPageView::PageSource()
{
    return WebBrowserGetHtml(form_.Web.get());
}

TPageClock TPageView::ReadPage(const std::string& html)
{
    return ReadPageClock(html);
}

bool TPageView::PageBusy()
{
    return form_.Web->Busy();
}

bool TPageView::PageLetGo()
{
    return form_.Web->Discarded();
}

bool TPageView::HasPage()
{
    return form_.Web->Document() != nullptr;
}

std::string TPageView::CanonicalUrl(const std::string& url)
{
    return ::CanonicalUrl(url);
}

bool TPageView::ValidBaseUrl(const std::string& url)
{
    return IsValidBaseUrl(url);
}

void TPageView::BaseUrlRefused()
{
    frmPrefs->ShowBaseUrlProblem();
}

TLoginPassword TPageView::PasswordForLogin(std::function<void()> whenReady, std::string& unavailable)
{
    switch (frmPrefs->Keyring().ForLogin(std::move(whenReady))) {
    case TKeyringPassword::Login::Ready: return TLoginPassword::Ready;
    case TKeyringPassword::Login::Waiting: return TLoginPassword::Waiting;
    case TKeyringPassword::Login::Unavailable: break;
    }
    unavailable = frmPrefs->Keyring().UnavailableMessage();
    return TLoginPassword::Unavailable;
}

void TPageView::PageShown()
{
    form_.AttachHostObject();
}

void TPageView::PageRead(const std::string& html)
{
    form_.ReadTimerPage(html);
}

bool TPageView::PageSetUp()
{
    return form_.DocHandler != nullptr;
}

void TPageView::SubmissionShown(bool start, const TIntent* ours)
{
    // An idle restart ends the break it carries (the start's balloon says it);
    // an idle stop starts one once the window shows the stop.
    if (start) {
        form_.Idle.SubmissionShown(true, ours);
        form_.ClockStarted();
    } else {
        form_.ClockStopped();
        form_.Idle.SubmissionShown(false, ours);
    }
    form_.UpdateEverythingTimer();
}

void TPageView::OpenOutside(const std::string& url)
{
    // Only what the user asked for in the page leaves it: one link a click or key.
    if (!form_.Web->TakeUserGesture()) {
        TraceMark("outside-link-without-gesture");
        return;
    }
    if (CurrentPlatform().Shell->ShellExecute("open", url) <= 32)
        CurrentPlatform().MessageBox->Show(OpenLinkErrorText(url), Application().Title(),
                                           MB_OK);
}

void TPageView::ShowServerPreferences()
{
    // Not from inside the engine's question: a modal window waits for the user.
    QTimer::singleShot(0, &form_, [this] {
        Application().Guard([this] {
            frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabServer);
            form_.Preferences1Click();
        });
    });
}

void TPageView::AutoLoginStarts()
{
    if (form_.RunningUnderWine)
        CurrentPlatform().MessageBox->Show(
            "We have detected you are on Linux.\nSome features do not work such as auto-login and start/stop "
            "timer menu items",
            Application().Title(), MB_OK);
}

void TPageView::LoginRefused(const std::string& message)
{
    form_.tryIcon->ShowBalloonHint("Chronel Timer", message + " Check them in the preferences.", bitWarning, 30);
}

void TPageView::PageBackOutOfSight()
{
    form_.RestPageSoon();
}

