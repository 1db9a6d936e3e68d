// The conversation with the service: login, navigation rules, page reading.
#include <algorithm>
#include <QCoreApplication>

#include "ClockFixture.h"
#include "components/Format.h"

namespace {

const char* const kLoginForm = "<form name=\"frmLogin\"><input name=\"password\"></form>";

class WebSession : public ClockFixture {
protected:
    // The first paint: posts the login and waits for the page.
    void Login(const std::string& user, const std::string& password, const std::string& loginPage = kLoginForm)
    {
        prefs->edtUsername->SetText(user);
        prefs->edtPassword->SetText(password);
        page = loginPage;
        QTimer::singleShot(0, [this] { Load(); });
        form->FormPaint();
    }
    std::string T() const { return base + "time_log.php"; }
    bool Navigate(const std::string& url)
    {
        const std::size_t before = view->navigations.size();
        view->PageNavigate(url);
        (void)before;
        return view->busy && view->pendingUrl == url;  // let through
    }
};

TEST_F(WebSession, LoginPostsEncodedCredentials)
{
    Login("ann smith", "a&b p+q=?");
    ASSERT_EQ(view->navigations.size(), 1u);
    const auto& n = view->navigations[0];
    EXPECT_EQ(n.url, base + "index.php?mobile=1&username_or_email=ann%20smith&goto=time_log.php%3fsmallbtn=1");
    EXPECT_EQ(n.postData, "pw=a%26b%20p%2Bq%3D%3F");
    EXPECT_EQ(n.headers, "Content-Type: application/x-www-form-urlencoded\r\n");
    EXPECT_EQ(form->LoginURL, n.url);
    // The host object replaces the page's menu from now on.
    EXPECT_FALSE(view->RightClick({10, 20}));
    EXPECT_EQ(view->engineMenus, 0);
    EXPECT_EQ(menusShown, 1);
}

TEST_F(WebSession, WhatTheFirstRunsPreferencesTakeIsLoggedInWithAtOnce)
{
    // No settings file: the login goes to the preset service while the user types.
    prefs->ShowSettings(TSettings::FirstRun());
    form->show();
    QCoreApplication::processEvents();
    ASSERT_FALSE(view->navigations.empty());
    EXPECT_EQ(view->navigations.back().url.rfind(PublicBaseURL(), 0), 0u) << view->navigations.back().url;
    view->FailNavigation(0, "name not resolved");
    // The user's service, user and password; the preferences are closed.
    prefs->edtBaseURL->SetText(base);
    prefs->edtUsername->SetText("ann");
    prefs->edtPassword->SetText("pw");
    prefs->accept();
    ASSERT_TRUE(view->busy);
    EXPECT_EQ(view->navigations.back().url, base + "index.php?mobile=1&username_or_email=ann&goto=time_log.php%3fsmallbtn=1");
    EXPECT_EQ(view->navigations.back().postData, "pw=pw");
    Load();
    EXPECT_TRUE(form->Link.Connected());
    // Closing them again unchanged logs in no more.
    const std::size_t logins = view->navigations.size();
    prefs->accept();
    EXPECT_EQ(view->navigations.size(), logins);
    form->hide();
}

TEST_F(WebSession, FirstShowPostsLoginThenHostObjectFocusScriptAndHotKeyInOrder)
{
    WriteIni("[Form]\r\nRemoveFromTaskBar=0\r\n[Prefs]\r\nBaseURL=" + base +
             "\r\nUsername=ann\r\nHotKeyStartStop=32960\r\n");
    std::vector<std::string> order;
    auto state = [this] {
        return std::string(view->document && view->document->uiHandler ? "host" : "-") + "," +
               (sim.hotKeys.registered.empty() ? "-" : "key");
    };
    view->onScript = [&](const std::string& script) {
        if (script.find(".focus()") != std::string::npos) order.push_back("focus " + state());
    };
    page = "<form name=frmLogin><input name=password></form>";
    // Settings are loaded at the show, and the login goes out with them
    // once the window is mapped, before the first paint.
    form->show();
    EXPECT_TRUE(view->navigations.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(view->navigations.size(), 1u);
    EXPECT_EQ(view->navigations[0].url, base + "index.php?mobile=1&username_or_email=ann&goto=time_log.php%3fsmallbtn=1");
    order.push_back("posted " + state());
    // The first paint waits for the page, then attaches the host object,
    // focuses the password field and registers the hot key.
    QTimer::singleShot(0, [&] {
        order.push_back("loaded " + state());
        Load();
    });
    form->FormPaint();
    order.push_back("done " + state());
    EXPECT_EQ(view->navigations.size(), 1u);  // not posted twice
    EXPECT_EQ(order, (std::vector<std::string>{"posted -,-", "loaded -,-", "focus host,-", "done host,key"}));
    form->hide();
}

TEST_F(WebSession, NonAsciiAndReservedBytesAreEncoded)
{
    EXPECT_EQ(EncodeCredential("caf\xc3\xa9"), "caf%C3%A9");
    EXPECT_EQ(EncodeCredential("a-b.c_d~e"), "a-b.c_d~e");
    EXPECT_EQ(EncodeCredential("<*#%>/"), "%3C%2A%23%25%3E%2F");
}

TEST_F(WebSession, AutoLoginOnceWithEscapedPassword)
{
    Login("ann", "it's \\ a \"</script>\"\nx");
    ASSERT_FALSE(scripts.empty());
    const std::string& s = scripts.back();
    EXPECT_EQ(s.rfind("if (document && document.frmLogin && document.frmLogin.password){ "
                      "document.frmLogin.password.value = '",
                      0),
              0u)
        << s;
    EXPECT_NE(s.find("it\\'s \\\\ a \\\"\\x3C/script\\x3E\\\"\\nx'; document.frmLogin.submit(); }"), std::string::npos)
        << s;
    EXPECT_EQ(s.find("</script>"), std::string::npos);
    EXPECT_EQ(form->LoginPageCount, 1);
}

TEST_F(WebSession, AutoLoginMatchesCanonicalUrlWhateverTheCase)
{
    // The engine reports the URL canonicalised and the user name may have capitals.
    prefs->edtUsername->SetText("Ann<");
    prefs->edtPassword->SetText("pw");
    form->LoginURL = base + "index.php?mobile=1&username_or_email=Ann%3C&goto=time_log.php%3fsmallbtn=1";
    view->pendingUrl = base + "index.php?mobile=1&username_or_email=Ann%3C&goto=time_log.php%3Fsmallbtn=1";
    view->busy = true;
    page = kLoginForm;
    Load();
    EXPECT_EQ(form->LoginPageCount, 1);
}

TEST_F(WebSession, NoPasswordNoAutoLoginButFocusScript)
{
    sim.registry.keys.insert("Software\\Wine");
    form->RunningUnderWine = TForm1::IsRunningUnderWine();
    Login("ann", "");
    EXPECT_EQ(form->LoginPageCount, 0);
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back(), TServiceUrls::FocusPasswordScript());
    EXPECT_TRUE(sim.messageBox.shown.empty());
}

TEST_F(WebSession, NoPasswordFocusGoesToTheLoginFormWhenAPageBringsIt)
{
    // The first page is still the status page (no login form): no script
    // for a field that is not there; the login form that comes later gets it.
    Login("ann", "", "<p>Not connected</p>");
    EXPECT_TRUE(std::none_of(scripts.begin(), scripts.end(),
                             [](const std::string& s) { return s.find(".focus()") != std::string::npos; }));
    view->pendingUrl = base + "index.php";
    view->busy = true;
    page = kLoginForm;
    Load();
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back(), TServiceUrls::FocusPasswordScript());
}

TEST_F(WebSession, WineMessageOnceBeforeAutoLogin)
{
    sim.registry.keys.insert("Software\\Wine");
    form->RunningUnderWine = TForm1::IsRunningUnderWine();
    Login("ann", "pw");
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text,
              "We have detected you are on Linux.\nSome features do not work such as auto-login and start/stop timer "
              "menu items");
}

TEST_F(WebSession, NavigationRules)
{
    Login("ann", "");
    EXPECT_TRUE(Navigate(T() + "?tid=&x=1"));
    EXPECT_TRUE(form->ClockRunning);
    Load();  // a completed page with "tid=&" leaves the mirror running
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(Navigate(T() + "?tid=17&x=1"));
    EXPECT_FALSE(form->ClockRunning);
    form->ClockStarted();
    // Any other timer page says how the clock stands once it has loaded.
    EXPECT_TRUE(Navigate(T() + "?smallbtn=1"));
    EXPECT_TRUE(form->ClockRunning);

    EXPECT_TRUE(Navigate(form->LoginURL));
    EXPECT_TRUE(Navigate(base + "index.php"));
    EXPECT_TRUE(Navigate("about:blank"));
    EXPECT_TRUE(Navigate("mailto:someone@example.org"));
    EXPECT_TRUE(Navigate("javascript:void(0)"));
    EXPECT_TRUE(sim.shell.opened.empty());

    // Only a link the user followed leaves, once for each click or key.
    EXPECT_FALSE(Navigate("https://www.example.com/script-opened"));
    EXPECT_TRUE(sim.shell.opened.empty());
    view->gestures = 2;
    EXPECT_FALSE(Navigate("https://www.example.com/page"));
    EXPECT_FALSE(Navigate(base + "reports.php"));
    EXPECT_FALSE(Navigate("https://www.example.com/again"));
    ASSERT_EQ(sim.shell.opened.size(), 2u);
    EXPECT_EQ(sim.shell.opened[0], std::make_pair(std::string("open"), std::string("https://www.example.com/page")));
    EXPECT_TRUE(sim.messageBox.shown.empty());

    sim.shell.result = 2;
    view->gestures = 1;
    EXPECT_FALSE(Navigate("HTTP://elsewhere.example/"));
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, "There was an error opening the link 'HTTP://elsewhere.example/'.");
}

TEST_F(WebSession, EngineCanonicalUrlsStillMatch)
{
    // Reported with an upper-cased escape and a lower-cased host.
    prefs->edtBaseURL->SetText("http://LocalHost:8080/");
    Login("ann", "");
    EXPECT_EQ(form->LoginURL, "http://LocalHost:8080/index.php?mobile=1&username_or_email=ann&goto=time_log.php%3fsmallbtn=1");
    EXPECT_TRUE(Navigate("http://localhost:8080/index.php?mobile=1&username_or_email=ann&goto=time_log.php%3Fsmallbtn=1"));
    EXPECT_TRUE(Navigate("http://localhost:8080/time_log.php?tid=&smallbtn=1"));
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(sim.shell.opened.empty());
}

TEST_F(WebSession, PageReadingLabelsMenuAndHint)
{
    Login("ann", "");
    auto read = [&](const std::string& html) {
        view->document->html = html;
        form->ReadTimerPage();
    };
    read("<select><option value=1>A</option><OPTION value=2 SELECTED>Fish &amp; Chips</OPTION></select>");
    EXPECT_EQ(form->WorkItemName, "Fish && Chips");
    EXPECT_EQ(form->StartClock1->Caption(), "Start: Fish && Chips");
    EXPECT_EQ(form->StopClock1->Caption(), "Stop: Fish && Chips");
    EXPECT_EQ(form->tryIcon->Hint(), "Fish &&& Chips");

    read("<option selected>First</option><option selected>Second</option>");
    EXPECT_EQ(form->WorkItemName, "First");

    read("<option>None</option>");
    EXPECT_EQ(form->StartClock1->Caption(), "Start Clock");
    EXPECT_EQ(form->StopClock1->Caption(), "Stop Clock");
    EXPECT_EQ(form->WorkItemName, "First");
    EXPECT_EQ(form->tryIcon->Hint(), "First");

    // A bare "&" is kept and the reading goes on.
    read("<option selected>Salt & Pepper &lt;b&gt; &#233;t&#233; &#x41;</option>");
    EXPECT_EQ(form->WorkItemName, "Salt && Pepper <b> \xc3\xa9t\xc3\xa9 A");

    read("<option selected>Caf\xc3\xa9 M\xc3\xb8ller</option>");
    EXPECT_EQ(form->WorkItemName, "Caf\xc3\xa9 M\xc3\xb8ller");

    // "selected" on a later line than "option" is not seen.
    read("<option value=1\nselected>Split</option>");
    EXPECT_EQ(form->StartClock1->Caption(), "Start Clock");
}

TEST_F(WebSession, EveryTimerPageBringsTheWindowToTheServicesClock)
{
    Login("ann", "");
    // The service's clock runs when the program starts: the page says so, with its start.
    serviceRunning = true;
    page = "<form name=frmStartStop></form><option selected>Item</option><p>Running since 08:30 on Item.</p>";
    Navigate(T() + "?smallbtn=1");
    Load();
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_EQ(form->windowTitle().toStdString(), "Working...");
    EXPECT_EQ(LastBalloon().text, "The service's clock is running (since 08:30).");
    EXPECT_EQ(FormatLongTime(form->StartTime), FormatLongTime(46027.0 + 8.5 / 24));
    sim.Advance(1000);
    EXPECT_EQ(form->windowTitle().toStdString(), "30 min.");
    const int balloons = BalloonCount();
    Navigate(T() + "?smallbtn=1");  // agreeing pages say nothing
    Load();
    EXPECT_EQ(BalloonCount(), balloons);

    // Stopped elsewhere: the next page shows it, through the same transition.
    serviceRunning = false;
    Navigate(T() + "?smallbtn=1");
    Load();
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_EQ(form->windowTitle().toStdString(), "Not working");
    EXPECT_TRUE(form->StartClock1->Visible());
    EXPECT_EQ(LastBalloon().text, "The service's clock is not running.");

    // A page whose state cannot be read changes nothing.
    form->ClockStarted();
    page = "<form name=frmStartStop><input type=hidden name=tid value=5><input type=submit value=Start></form>";
    Navigate(T() + "?smallbtn=1");
    Load();
    EXPECT_TRUE(form->ClockRunning);
    page = "<p>Maintenance</p>";
    Navigate(T() + "?smallbtn=1");
    Load();
    EXPECT_TRUE(form->ClockRunning);
}

}  // namespace
