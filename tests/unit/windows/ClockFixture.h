#pragma once
// The main window logged in to a simulated service whose start/stop form
// navigates as the real one does.
#include <QMenu>
#include <QTimer>

#include "WindowsFixture.h"
#include "main_window/WebSession.h"

class ClockFixture : public WindowsFixture {
protected:
    void SetUp() override
    {
        WindowsFixture::SetUp();
        view = sim.browsers.created.back();
        prefs->edtBaseURL->SetText(base);
        // A popup menu would wait for the user: note it and close it.
        form->mnuApp.OnShown = [this](TPopupMenu* m) {
            ++menusShown;
            m->Menu()->close();
        };
        view->onScript = [this](const std::string& script) {
            scripts.push_back(script);
            if (script.find("frmStartStop.submit") != std::string::npos && pageHasForm && view->document &&
                view->document->html.find("frmStartStop") != std::string::npos) {
                // The form as the page shows it, which may be older than the service's clock.
                const bool shownRunning = view->document &&
                                          (view->document->html.find("value=\"17\"") != std::string::npos ||
                                           (view->document->html.find("value=\"") == std::string::npos && serviceRunning));
                view->PageNavigate(shownRunning ? base + "time_log.php?tid=17&smallbtn=1"
                                                : base + "time_log.php?tid=&smallbtn=1");
                if (!asyncEngine) Load();
            }
        };
    }

    // The timer page is already shown, as after a login.
    void ShowTimerPage()
    {
        view->pendingUrl = base + "time_log.php?smallbtn=1";
        view->busy = true;
        Load();
    }

    // The pending navigation completes, its page taken from `page`; with
    // the service down it fails instead. A start or stop the service takes
    // changes its clock.
    void Load()
    {
        if (!view->busy) return;
        if (view->pendingLocal) {
            view->CompleteNavigation();
            return;
        }
        if (serviceDown) {
            view->FailNavigation(0, "connection refused");
            if (view->busy && view->pendingLocal) view->CompleteNavigation();  // the status page
            return;
        }
        const bool timerPage = view->pendingUrl.rfind(base + "time_log.php", 0) == 0;
        if (sessionExpired && timerPage) {
            // No session: the service answers with its bare login page, and changes nothing.
            view->PageNavigate(base + "index.php");
            view->pages[base + "index.php"] = "<form name=\"frmLogin\"><input name=\"password\"></form>";
            view->CompleteNavigation();
            return;
        }
        // A start or stop is carried out only when it fits the clock (a stale form changes nothing).
        if (view->pendingUrl.find("tid=&") != std::string::npos) {
            if (!serviceRunning) ++carriedOut;
            serviceRunning = true;
        } else if (view->pendingUrl.find("tid=") != std::string::npos) {
            if (serviceRunning) ++carriedOut;
            serviceRunning = false;
        }
        if (loseAnswers > 0 && view->pendingUrl.find("tid=") != std::string::npos) {
            // Taken, but the answer is lost on its way back.
            --loseAnswers;
            view->FailNavigation(500, "HTTP 500");
            if (view->busy && view->pendingLocal) view->CompleteNavigation();  // the status page
            return;
        }
        view->pages[view->pendingUrl] = Served(page);
        view->CompleteNavigation();
    }

    // A bare start/stop form in `page` is served as the service has its clock:
    // the running entry's tid (empty while stopped) and the button.
    std::string Served(const std::string& html) const
    {
        const std::string bare = "<form name=frmStartStop></form>";
        const std::size_t at = html.find(bare);
        if (at == std::string::npos) return html;
        return html.substr(0, at) + "<form name=frmStartStop><input type=hidden name=tid value=\"" +
               (serviceRunning ? "17" : "") + "\"><input type=submit value=" + (serviceRunning ? "Stop" : "Start") +
               "></form>" + html.substr(at + bare.size());
    }

    // The engine's order: a submitted form is reported after the script returned.
    void SetAsync(bool async)
    {
        asyncEngine = async;
        view->asyncEngine = async;
    }

    // Late reports arrive and the navigation they start finishes.
    void Settle()
    {
        sim.ProcessMessages();
        Load();
        sim.ProcessMessages();
    }

    // Runs the toggle and lets the navigation it starts finish.
    void Toggle(TMenuItem* item)
    {
        item->Click();
        if (asyncEngine) Settle();
    }

    struct Balloon {
        std::string title, text;
        DWORD kind;
        UINT timeout;
    };
    Balloon LastBalloon() const
    {
        for (auto it = sim.notifyIcons.calls.rbegin(); it != sim.notifyIcons.calls.rend(); ++it)
            if ((it->data.uFlags & NIF_INFO) && it->data.szInfoTitle[0])
                return {it->data.szInfoTitle, it->data.szInfo, it->data.dwInfoFlags, it->data.uTimeout};
        return {};
    }
    int BalloonCount() const
    {
        int n = 0;
        for (auto& c : sim.notifyIcons.calls)
            if ((c.data.uFlags & NIF_INFO) && c.data.szInfoTitle[0]) ++n;
        return n;
    }

    // Auto-stop and auto-restart through the page, whichever order the engine
    // reports the submitted form in.
    void IdleRoundTrip()
    {
        prefs->cbxIdleTimeCheck->SetChecked(true);
        prefs->edtIdleTimeCheck->SetValue(1);
        sim.lastInput.tick = sim.clock.GetTickCount();
        page = "<form name=frmStartStop></form><option selected>Item</option>";
        ShowTimerPage();
        Toggle(form->StartClock1);
        ASSERT_TRUE(form->ClockRunning);
        sim.Advance(59000);
        EXPECT_TRUE(form->ClockRunning);
        sim.Advance(1000);  // 60 s idle: the warning, then the stop
        Load();
        EXPECT_FALSE(form->ClockRunning);
        EXPECT_TRUE(form->IdleStopped);
        sim.Advance(330000);  // a break of 5 min 30 s
        EXPECT_EQ(form->BreakSeconds, 330u);
        sim.lastInput.tick = sim.clock.GetTickCount();  // the user is back
        sim.Advance(1000);
        Load();
        EXPECT_TRUE(form->ClockRunning);
        EXPECT_FALSE(form->IdleStopped);
        EXPECT_EQ(form->BreakSeconds, 0u);
    }

    const std::string base = "http://127.0.0.1:8080/";
    SimBrowserView* view = nullptr;
    std::string page = "<form name=frmStartStop></form><option selected>Work</option>";
    bool pageHasForm = true;
    bool serviceRunning = false;
    bool serviceDown = false;  // every load of the service fails
    bool sessionExpired = false;  // timer pages answer with the login page until a login
    int loseAnswers = 0;  // the next submissions change the clock, then their answer fails
    int carriedOut = 0;   // starts and stops the service carried out
    bool asyncEngine = false;  // the real engine reports a submitted form after the script returns
    std::vector<std::string> scripts;
    int menusShown = 0;
};
