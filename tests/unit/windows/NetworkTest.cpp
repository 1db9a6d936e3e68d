// The window on a service that fails: the status page and its retries, starts
// and stops the service did not take, the exit that cannot stop the clock,
// and idle auto-stop and auto-restart that never act unasked.
#include <QLabel>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "ClockFixture.h"
#include "components/Application.h"

namespace {

const char* const kLoginForm = "<form name=\"frmLogin\"><input name=\"password\"></form>";
const char* const kTimerPage = "<form name=frmStartStop></form><option selected>Item</option>";

class Network : public ClockFixture {
protected:
    void SetUp() override
    {
        ClockFixture::SetUp();
        prefs->edtUsername->SetText("ann");
        prefs->edtPassword->SetText("pw");
    }

    // The first paint, with the service's answer to the login arriving while
    // the window waits.
    void Paint()
    {
        // Bound to the window: what the wait does not run dies with it.
        QTimer::singleShot(0, form.get(), [this] { Load(); });
        QTimer::singleShot(1, form.get(), [this] { Load(); });  // a status page shown meanwhile
        form->FormPaint();
    }

    std::size_t LoginsPosted() const
    {
        std::size_t n = 0;
        for (const auto& nav : view->navigations)
            if (nav.url == form->LoginURL && !nav.postData.empty()) ++n;
        return n;
    }
    // Start/stop form submissions the program has run.
    std::size_t Toggles() const
    {
        std::size_t n = 0;
        for (const auto& s : scripts)
            if (s.find("frmStartStop.submit") != std::string::npos) ++n;
        return n;
    }
    // The page's source as read: without the break points long words get.
    std::string Shown() const
    {
        std::string html = view->document ? view->document->html : std::string();
        for (std::size_t at; (at = html.find("<wbr>")) != std::string::npos;) html.erase(at, 5);
        return html;
    }
    bool StatusPageShown() const { return view->document && view->document->url == kLocalPageUrl; }

    // The service answers again: the retry logs in and lands on the timer page.
    void ServiceBack()
    {
        serviceDown = false;
        page = kTimerPage;
        ASSERT_TRUE(view->busy);  // the retry's login post
        view->PageNavigate(base + "time_log.php?smallbtn=1");  // its redirect
        Load();
    }
};

TEST_F(Network, ServiceDownAtStartShowsStatusPageAndRetriesWithGrowingPauses)
{
    serviceDown = true;
    Paint();
    ASSERT_TRUE(StatusPageShown());
    EXPECT_NE(Shown().find("127.0.0.1:8080 refused the connection."), std::string::npos) << Shown();
    EXPECT_NE(Shown().find("Next try at"), std::string::npos);
    EXPECT_NE(Shown().find(">Try now</a>"), std::string::npos);
    EXPECT_EQ(form->tryIcon->Hint(), "Not connected");
    EXPECT_EQ(form->LoginPageCount, 0);
    // The window is set up although the page is the program's own.
    EXPECT_FALSE(view->RightClick({1, 1}));

    const std::uint64_t pauses[] = {5000, 15000, 30000, 60000, 120000, 120000};
    for (std::uint64_t pause : pauses) {
        const std::size_t before = LoginsPosted();
        sim.Advance(pause - 1);
        EXPECT_EQ(LoginsPosted(), before) << "early retry before " << pause;
        sim.Advance(1);
        ASSERT_EQ(LoginsPosted(), before + 1) << "no retry after " << pause;
        Load();  // fails again
        EXPECT_TRUE(StatusPageShown());
    }

    sim.Advance(120000);
    ServiceBack();
    EXPECT_TRUE(form->Link.Connected());
    EXPECT_FALSE(StatusPageShown());
    EXPECT_EQ(form->tryIcon->Hint(), "Item");
    EXPECT_EQ(form->StartClock1->Caption(), "Start: Item");
    // Connected: no further tries.
    const std::size_t logins = LoginsPosted();
    sim.Advance(600000);
    EXPECT_EQ(LoginsPosted(), logins);
}

TEST_F(Network, TryNowLinkAndNetworkBackRetryAtOnce)
{
    serviceDown = true;
    Paint();
    ASSERT_EQ(LoginsPosted(), 1u);
    view->PageNavigate(form->Link.TryNowUrl());
    EXPECT_EQ(LoginsPosted(), 2u);
    EXPECT_TRUE(sim.shell.opened.empty());
    Load();
    sim.network.ComeBack();
    EXPECT_EQ(LoginsPosted(), 3u);
    Load();
    // The pause grew with every failure, whoever asked for the try.
    EXPECT_EQ(form->Link.NextTryTick() - sim.clock.GetTickCount(), 30000u);
}

TEST_F(Network, AutoLoginOnlyOnTheLoginFormAndOnceMoreAfterAFailure)
{
    // The login URL completes with a page that has no login form.
    page = "<p>Service busy</p>";
    Paint();
    EXPECT_EQ(form->LoginPageCount, 0);
    EXPECT_TRUE(scripts.empty());

    view->PageNavigate(form->LoginURL);
    page = kLoginForm;
    Load();
    EXPECT_EQ(form->LoginPageCount, 1);
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_NE(scripts[0].find("document.frmLogin.submit()"), std::string::npos);

    // The form's post fails; the fresh login after it may fill the form again.
    view->PageNavigate(base + "index.php");
    serviceDown = true;
    Load();
    ASSERT_TRUE(StatusPageShown());
    serviceDown = false;
    sim.Advance(5000);
    Load();
    EXPECT_EQ(scripts.size(), 2u);
    // Only once per fresh login.
    view->PageNavigate(form->LoginURL);
    Load();
    EXPECT_EQ(scripts.size(), 2u);
}

TEST_F(Network, ToggleWhileAPageLoadsWaitsForItOnceAndNotForAFailedOne)
{
    // Asked for during the login: it waits past the auto-login for the timer page.
    page = kLoginForm;
    QTimer::singleShot(0, form.get(), [this] {
        form->StartClock1->Click();
        Load();
    });
    form->FormPaint();
    EXPECT_EQ(Toggles(), 0u);
    page = kTimerPage;
    view->PageNavigate(base + "time_log.php?smallbtn=1");  // the login's answer
    Load();
    EXPECT_EQ(Toggles(), 1u);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(serviceRunning);

    // A held key repeats while the page reloads: one stop when it is there.
    view->PageNavigate(base + "time_log.php?tid=&smallbtn=1");
    form->StopClock1->Click();
    form->StopClock1->Click();
    EXPECT_EQ(Toggles(), 1u);
    Load();
    EXPECT_EQ(Toggles(), 2u);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_FALSE(serviceRunning);

    // The page the toggle waited for fails: the toggle is not sent later.
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    form->StartClock1->Click();
    serviceDown = true;
    Load();
    ASSERT_TRUE(StatusPageShown());
    sim.Advance(5000);
    ServiceBack();
    EXPECT_EQ(Toggles(), 2u);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_FALSE(serviceRunning);
}

TEST_F(Network, BadBaseUrlIsRefusedAtStartAndWhenTyped)
{
    prefs->edtBaseURL->SetText("ftp://127.0.0.1/");
    Paint();
    EXPECT_TRUE(view->navigations.empty());
    ASSERT_TRUE(StatusPageShown());
    const std::string message = "The base URL 'ftp://127.0.0.1/' is not a valid http or https address.";
    EXPECT_NE(Shown().find(message), std::string::npos) << Shown();
    EXPECT_EQ(Shown().find("Try now"), std::string::npos);
    EXPECT_EQ(prefs->lblBaseURLProblem->text().toStdString(), message);
    sim.Advance(600000);
    EXPECT_TRUE(view->navigations.empty());

    for (const char* bad : {"http://a b/", "file:///tmp/", "127.0.0.1:8080/", "http:///x", ""}) {
        prefs->edtBaseURL->SetText(bad);
        EXPECT_EQ(prefs->lblBaseURLProblem->text().toStdString(), InvalidBaseUrlMessage(bad)) << bad;
    }
    for (const char* good : {"http://127.0.0.1:8080/", "HTTPS://example.com/chronel/"}) {
        prefs->edtBaseURL->SetText(good);
        EXPECT_TRUE(prefs->lblBaseURLProblem->text().isEmpty()) << good;
    }
}

TEST_F(Network, FirstPaintWaitEndsAfterThirtySeconds)
{
    prefs->hotkeyStartStop->SetHotKey(32960);
    // The login never answers; time passes while the window waits.
    QTimer::singleShot(0, form.get(), [this] { sim.clock.elapsedMs += 30000; });
    form->FormPaint();
    EXPECT_TRUE(view->busy);
    EXPECT_TRUE(sim.hotKeys.Press(MOD_ALT, 0xC0));
}

// The page is the last word: starts and stops whose answers fail or are lost,
// expired sessions, in both engine orders.
class Truth : public Network, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        Network::SetUp();
        SetAsync(GetParam());
        // In this test's own folder: tests run side by side share the binary's.
        TForm1::SetTickingSoundPathForTests(dir + "/clock-ticking.wav");
        std::ofstream(TForm1::TickingSoundPath()) << "RIFF";
        prefs->cbxPlayTickingSound->SetChecked(true);
        prefs->cbxMinuteReminder->SetChecked(true);
        prefs->edtMinuteReminder->SetValue(7);
        page = kTimerPage;
        Paint();
        view->PageNavigate(base + "time_log.php?smallbtn=1");  // the login's answer
        Load();
    }
    void TearDown() override
    {
        TForm1::SetTickingSoundPathForTests("");
        Network::TearDown();
    }
    // The login the program posts after an expired session: a new session, then the timer page.
    void AnswerLogin()
    {
        ASSERT_TRUE(view->busy);
        ASSERT_EQ(view->pendingUrl, form->LoginURL);
        sessionExpired = false;
        view->PageNavigate(base + "time_log.php?smallbtn=1");
        Load();
        Settle();
    }
    void ExpectRunningView(bool running)
    {
        EXPECT_EQ(form->ClockRunning, running);
        EXPECT_EQ(form->tryIcon->CycleIcons(), running);
        EXPECT_EQ(form->StartClock1->Visible(), !running);
        EXPECT_EQ(form->StopClock1->Visible(), running);
        EXPECT_EQ(form->tmrTickingSound.Enabled(), running);
        EXPECT_EQ(form->tmrMinuteReminder.Enabled(), running);
    }
};

TEST_P(Truth, ExpiredSessionLogsInAgainAndCarriesEachPressOutOnce)
{
    for (const bool start : {true, false}) {
        SCOPED_TRACE(start ? "start" : "stop");
        const std::size_t logins = LoginsPosted();
        const int done = carriedOut;
        sessionExpired = true;
        Toggle(start ? form->StartClock1 : form->StopClock1);
        ASSERT_EQ(LoginsPosted(), logins + 1) << "no fresh login";
        EXPECT_EQ(carriedOut, done);
        AnswerLogin();
        EXPECT_EQ(carriedOut, done + 1);
        EXPECT_EQ(serviceRunning, start);
        ExpectRunningView(start);
        EXPECT_FALSE(form->Mirror.Pending());
        EXPECT_TRUE(form->Link.Connected());
    }
    // An expiry right after the fresh login is not chased again.
    sessionExpired = true;
    Toggle(form->StartClock1);
    const std::size_t logins = LoginsPosted();
    sessionExpired = true;
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();  // the fresh login's timer page has no session either
    Settle();
    EXPECT_EQ(LoginsPosted(), logins);
    EXPECT_EQ(LastBalloon().text, "The service asked for a login again: the clock was not started.");
}

TEST_P(Truth, LostAnswerIsCorrectedByTheNextPage)
{
    Toggle(form->StartClock1);
    ASSERT_TRUE(serviceRunning);
    const double started = form->StartTime;
    sim.Advance(180000);
    ASSERT_EQ(form->windowTitle().toStdString(), "3 min.");

    // The stop is taken, its answer lost: the window goes back to what the
    // last page showed and says it does not know.
    loseAnswers = 1;
    Toggle(form->StopClock1);
    EXPECT_FALSE(serviceRunning);
    ExpectRunningView(true);
    EXPECT_DOUBLE_EQ(form->StartTime, started);
    EXPECT_EQ(LastBalloon().text, "Could not reach the service: the clock may not have been stopped. The window "
                                  "shows the service's clock when it answers again.");
    EXPECT_TRUE(StatusPageShown());
    EXPECT_NE(Shown().find("The service at 127.0.0.1:8080 answered HTTP 500."), std::string::npos) << Shown();
    sim.Advance(1000);
    EXPECT_EQ(form->windowTitle().toStdString(), "3 min.");

    // The retry's timer page says the clock stopped: the window follows, and stays.
    sim.Advance(4000);
    ServiceBack();
    Settle();
    ExpectRunningView(false);
    EXPECT_EQ(form->windowTitle().toStdString(), "Not working");
    EXPECT_EQ(LastBalloon().text, "The service's clock is not running.");
    sim.Advance(60000);
    EXPECT_EQ(form->windowTitle().toStdString(), "Not working");

    // The same for a start; the next press stops the clock once.
    loseAnswers = 1;
    Toggle(form->StartClock1);
    EXPECT_TRUE(serviceRunning);
    ExpectRunningView(false);
    sim.Advance(5000);
    ServiceBack();
    Settle();
    ExpectRunningView(true);
    EXPECT_EQ(LastBalloon().text, "The service's clock is running.");
    const int done = carriedOut;
    Toggle(form->StopClock1);
    EXPECT_EQ(carriedOut, done + 1);
    EXPECT_FALSE(serviceRunning);
    ExpectRunningView(false);
}

TEST_P(Truth, FailedPressIsNotSentLaterAndThePageSaysHowThingsStand)
{
    serviceDown = true;
    Toggle(form->StartClock1);
    ExpectRunningView(false);
    // Refused: nothing reached the service, so nothing is in doubt.
    EXPECT_EQ(LastBalloon().text, "Could not reach the service: the clock was not started.");
    sim.Advance(5000);
    ServiceBack();
    Settle();
    EXPECT_FALSE(serviceRunning);
    ExpectRunningView(false);
    // Said even though the window already agreed: the user learns how it ended.
    EXPECT_EQ(LastBalloon().text, "The service's clock is not running.");

    // A press while the service is being tried again tries it at once and
    // waits for the timer page; a try that fails ends it.
    serviceDown = true;
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();
    ASSERT_TRUE(StatusPageShown());
    const std::size_t logins = LoginsPosted();
    form->StartClock1->Click();
    ASSERT_EQ(LoginsPosted(), logins + 1);
    Load();
    EXPECT_EQ(LastBalloon().text, "Not connected to the service: the clock was not started.");
    form->StartClock1->Click();
    ASSERT_EQ(LoginsPosted(), logins + 2);
    ServiceBack();
    Settle();
    EXPECT_TRUE(serviceRunning);
    ExpectRunningView(true);
}

TEST_P(Truth, PressForTheStateThePageShowsSubmitsNothing)
{
    form->ClockStarted();  // the window is wrong; the page shows the clock stopped
    const std::size_t toggles = Toggles();
    Toggle(form->StopClock1);
    EXPECT_EQ(Toggles(), toggles);
    ExpectRunningView(false);
    EXPECT_EQ(LastBalloon().text, "The service's clock is not running.");
    // A repeating key while a press is on its way adds nothing.
    SetAsync(true);
    form->StartClock1->Click();
    form->StartClock1->Click();
    form->StopClock1->Click();
    Settle();
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_TRUE(serviceRunning);

    // A press for the other state while one is on its way follows it, once.
    form->StopClock1->Click();
    sim.ProcessMessages();  // the window shows the stop; its page still loads
    form->StartClock1->Click();
    form->StartClock1->Click();
    Settle();
    Settle();
    EXPECT_EQ(Toggles(), toggles + 3);
    EXPECT_TRUE(serviceRunning);
    ExpectRunningView(true);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, Truth, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Late" : "Inside"; });

TEST_F(Network, RefusedLoginIsNotPostedAgainUntilTheUserActs)
{
    // Answered 403: held at once.
    QTimer::singleShot(0, form.get(), [this] {
        view->FailNavigation(403, "HTTP 403");
        Load();  // the status page
    });
    form->FormPaint();
    ASSERT_TRUE(StatusPageShown());
    EXPECT_NE(Shown().find("The service did not accept the user name and password."), std::string::npos) << Shown();
    EXPECT_EQ(form->tryIcon->Hint(), "The service did not accept the user name and password.");
    // Told once in a notification too: a hidden window's user sees no page.
    const int balloons = BalloonCount();
    EXPECT_EQ(LastBalloon().text, "The service did not accept the user name and password. Check them in the preferences.");
    sim.Advance(3600000);
    EXPECT_EQ(LoginsPosted(), 1u);
    EXPECT_EQ(BalloonCount(), balloons);

    // The preferences link opens the Server page.
    view->PageNavigate(form->Link.PreferencesUrl());
    EXPECT_FALSE(view->busy);
    EXPECT_TRUE(sim.shell.opened.empty());

    // "Try now" posts once more; the login form coming back after the
    // password went out through it is a refusal too.
    view->PageNavigate(form->Link.TryNowUrl());
    ASSERT_EQ(LoginsPosted(), 2u);
    page = kLoginForm;
    Load();
    ASSERT_EQ(Toggles(), 0u);
    view->PageNavigate(base + "index.php");
    Load();
    Load();  // the status page
    EXPECT_TRUE(StatusPageShown());
    sim.Advance(3600000);
    EXPECT_EQ(LoginsPosted(), 2u);

    // Closing the preferences without a change tries nothing; new credentials are tried at once.
    prefs->reject();
    EXPECT_EQ(LoginsPosted(), 2u);
    prefs->edtPassword->SetText("right");
    prefs->reject();
    ASSERT_EQ(LoginsPosted(), 3u);
    EXPECT_EQ(view->navigations.back().postData, "pw=right");
    page = kTimerPage;
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();
    EXPECT_TRUE(form->Link.Connected());
    EXPECT_EQ(form->tryIcon->Hint(), "Item");
}

TEST_F(Network, LateFirstPageStillGetsTheHostObjectAndTryNowNeverLeaves)
{
    prefs->edtBaseURL->SetText("http://LocalHost:80/");
    // The login takes longer than the first paint waits.
    QTimer::singleShot(0, form.get(), [this] { sim.clock.elapsedMs += 30000; });
    form->FormPaint();
    ASSERT_TRUE(view->busy);
    page = kTimerPage;
    Load();
    EXPECT_FALSE(view->RightClick({1, 1}));

    // The status page's link, in the engine's own spelling, while a retry loads.
    serviceDown = true;
    view->PageNavigate("http://localhost/time_log.php?smallbtn=1");
    Load();
    ASSERT_TRUE(StatusPageShown());
    sim.Advance(5000);
    ASSERT_TRUE(view->busy);  // the retry
    std::string link = form->Link.TryNowUrl();
    for (char& c : link) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    view->gestures = 1;
    view->PageNavigate(link);
    EXPECT_TRUE(sim.shell.opened.empty());
}

class ExitStop : public Network {
protected:
    void SetUp() override
    {
        Network::SetUp();
        SetAsync(true);
        page = kTimerPage;
        form->show();
        ShowTimerPage();
        Toggle(form->StartClock1);
        ASSERT_TRUE(serviceRunning);
    }
    std::string LastQuestion() const
    {
        return sim.messageBox.shown.empty() ? std::string() : sim.messageBox.shown.back().text;
    }
};

TEST_F(ExitStop, FailedStopAsksAgainAndNoKeepsTheClockRunning)
{
    serviceDown = true;
    sim.messageBox.answers = {IDYES, IDNO};
    form->Close();
    Settle();
    EXPECT_EQ(LastQuestion(), "The clock could not be stopped at the service (connection refused). Exit anyway?");
    EXPECT_EQ(sim.messageBox.shown.size(), 2u);
    EXPECT_FALSE(form->Closed());
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(form->StopClock1->Visible());
    // Nothing closes the window later on its own.
    sim.Advance(20000);
    EXPECT_FALSE(form->Closed());
    EXPECT_EQ(sim.messageBox.shown.size(), 2u);
}

TEST_F(ExitStop, YesToTheSecondQuestionEnds)
{
    serviceDown = true;
    sim.messageBox.answers = {IDYES, IDYES};
    form->Close();
    Settle();
    EXPECT_TRUE(form->Closed());
    EXPECT_TRUE(std::filesystem::exists(ini));
}

TEST_F(ExitStop, StopWithoutAnswerWithinTenSecondsAsks)
{
    sim.messageBox.answers = {IDYES, IDNO};
    form->Close();
    sim.ProcessMessages();  // the stop is under way and never answered
    ASSERT_TRUE(view->busy);
    sim.Advance(9999);
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
    sim.Advance(1);
    EXPECT_EQ(LastQuestion(), "The clock could not be stopped at the service (no answer within 10 seconds). Exit anyway?");
    EXPECT_FALSE(form->Closed());
    EXPECT_TRUE(form->ClockRunning);
}

TEST_F(ExitStop, StopThatArrivesCloses)
{
    sim.messageBox.answers = {IDYES};
    form->Close();
    Settle();
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(serviceRunning);
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
}

TEST_F(ExitStop, ExpiredSessionIsLoggedInAgainBeforeTheStopAndTheEnd)
{
    sessionExpired = true;
    sim.messageBox.answers = {IDYES};
    form->Close();
    sim.ProcessMessages();  // the stop is under way, slowly
    sim.Advance(6000);
    Load();  // answered with the login page
    EXPECT_FALSE(form->Closed());
    EXPECT_TRUE(serviceRunning);
    ASSERT_EQ(view->pendingUrl, form->LoginURL);
    sim.Advance(6000);  // the fresh login gets a wait of its own
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
    sessionExpired = false;
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();
    Settle();
    EXPECT_FALSE(serviceRunning);
    EXPECT_EQ(carriedOut, 2);  // the start, then the stop once
    EXPECT_TRUE(form->Closed());
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
}

// Idle auto-stop and auto-restart, in both engine orders.
class Idle : public Network, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        Network::SetUp();
        SetAsync(GetParam());
        prefs->cbxIdleTimeCheck->SetChecked(true);
        prefs->edtIdleTimeCheck->SetValue(1);
        sim.lastInput.tick = sim.clock.GetTickCount();
        page = kTimerPage;
    }
    void StartRunning()
    {
        ShowTimerPage();
        Toggle(form->StartClock1);
        ASSERT_TRUE(form->ClockRunning);
    }
    void Active() { sim.lastInput.tick = sim.clock.GetTickCount(); }
};

TEST_P(Idle, RoundTripWithBreakNote)
{
    IdleRoundTrip();
    EXPECT_EQ(LastBalloon().text, "Item\r\n(You took a 5.52 minute  break)");
}

TEST_P(Idle, StopWaitsForTheTimerPageAndIsDroppedOnceWhenTheUserIsBack)
{
    StartRunning();
    page = "<p>No form here</p>";
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();
    const std::size_t toggles = Toggles();
    sim.Advance(60000);
    EXPECT_EQ(Toggles(), toggles);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(form->IdleStopped);
    ASSERT_TRUE(form->Mirror.Pending());
    sim.Advance(60000);  // still away: nothing more is tried, nothing said
    EXPECT_EQ(Toggles(), toggles);
    const int balloons = BalloonCount();

    // Back before the stop could go out: given up, said once, and the next
    // idle period is stopped again.
    Active();
    sim.Advance(1000);
    EXPECT_FALSE(form->Mirror.Pending());
    EXPECT_FALSE(form->IdleStopped);
    EXPECT_EQ(BalloonCount(), balloons + 1);
    EXPECT_EQ(LastBalloon().text,
              "The clock could not be stopped automatically: the service could not be reached in time.");
    sim.Advance(5000);
    EXPECT_EQ(BalloonCount(), balloons + 1);
    page = kTimerPage;
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();
    sim.Advance(60000);
    Settle();
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_FALSE(serviceRunning);
    EXPECT_TRUE(form->IdleStopped);
}

TEST_P(Idle, StopFailingAtResumeGoesOutWhenTheServiceIsBack)
{
    StartRunning();
    // The network is not back yet when the machine wakes from a long sleep.
    serviceDown = true;
    sim.lastInput.tick = sim.clock.GetTickCount() - 600000;  // the sleep counts as idle time
    sim.session.Resume(600);
    Settle();
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(serviceRunning);
    ASSERT_TRUE(form->Mirror.Pending());
    EXPECT_EQ(form->Mirror.Pending()->source, TIntentSource::Idle);
    sim.Advance(5000);
    ServiceBack();
    Settle();
    EXPECT_FALSE(serviceRunning);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_TRUE(form->IdleStopped);
    EXPECT_EQ(form->BreakSeconds, 600u);
    Active();
    sim.Advance(1000);
    Settle();
    EXPECT_TRUE(serviceRunning);
    EXPECT_NE(LastBalloon().text.find("(You took a 10.02 minute  break)"), std::string::npos) << LastBalloon().text;

    // Idle detection that is not available stops nothing at a resume.
    sim.lastInput.ok = false;
    const std::size_t toggles = Toggles();
    sim.session.Resume(6000);
    Settle();
    EXPECT_EQ(Toggles(), toggles);
    EXPECT_TRUE(form->ClockRunning);
}

TEST_P(Idle, SubmissionThatGoesNowhereIsGivenUpAndSaid)
{
    StartRunning();
    pageHasForm = false;  // the form is on the page but submits nothing
    const std::size_t toggles = Toggles();
    sim.Advance(60000);
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_TRUE(form->IdleStopped);
    sim.Advance(10000);
    EXPECT_FALSE(form->IdleStopped);
    EXPECT_EQ(LastBalloon().text, "The clock could not be stopped automatically: the start/stop form did not submit.");
    // Nothing restarts the clock; the next idle tick tries the stop again.
    Active();
    sim.Advance(5000);
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_TRUE(form->ClockRunning);
}

TEST_P(Idle, AutoStopWhileTheStartsPageLoadsWaitsForThatPage)
{
    StartRunning();
    sim.Advance(59000);
    ASSERT_TRUE(form->ClockRunning);
    // The start's page is still loading when the auto-stop clicks: its form
    // would submit nowhere, so the click waits for the page.
    view->pendingUrl = base + "time_log.php?tid=&item=3&smallbtn=1";
    view->busy = true;
    const std::size_t toggles = Toggles();
    sim.Advance(1000);
    EXPECT_EQ(Toggles(), toggles);
    EXPECT_TRUE(form->ClockRunning);
    sim.Advance(40000);  // a slow page: the claim waits with the click
    Load();
    Settle();
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_FALSE(serviceRunning);
    EXPECT_TRUE(form->IdleStopped);
    sim.Advance(10000);
    Active();
    sim.Advance(1000);
    Settle();
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_EQ(LastBalloon().text, "Item\r\n(You took a 11 second  break)");
}

TEST_P(Idle, UnreadableIdleTimeIsSaidOnceAndStopsNothing)
{
    StartRunning();
    sim.lastInput.ok = false;
    const std::size_t toggles = Toggles();
    sim.Advance(1000);
    EXPECT_EQ(form->windowTitle().toStdString(), "0 min. idle n/a");
    EXPECT_EQ(LastBalloon().text,
              "Idle detection is not available on this desktop; automatic stop and restart are off.");
    const int balloons = BalloonCount();
    sim.Advance(600000);
    EXPECT_EQ(BalloonCount(), balloons);
    EXPECT_EQ(Toggles(), toggles);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_FALSE(form->IdleStopped);

    // Detection comes back by itself: said once, and it decides again.
    sim.lastInput.ok = true;
    Active();
    sim.Advance(1000);
    EXPECT_EQ(LastBalloon().text, "Idle detection works again; automatic stop and restart are on.");
    EXPECT_EQ(form->windowTitle().toStdString(), "10 min. not idle ");
    EXPECT_EQ(BalloonCount(), balloons + 1);
}

TEST_P(Idle, AReadingNotYetAtHandDecidesNothing)
{
    StartRunning();
    sim.Advance(1000);
    const std::string caption = form->windowTitle().toStdString();
    // The source holds only an answer of an hour ago (idle stopping was off) and waits for a new one.
    sim.lastInput.tick = sim.clock.GetTickCount() - 3600 * 1000;
    sim.lastInput.ok = false;
    sim.lastInput.pending = true;
    const std::size_t toggles = Toggles();
    const int balloons = BalloonCount();
    sim.Advance(3000);
    EXPECT_EQ(Toggles(), toggles);
    EXPECT_EQ(BalloonCount(), balloons);
    EXPECT_EQ(form->windowTitle().toStdString(), caption);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_FALSE(form->IdleStopped);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, Idle, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Late" : "Inside"; });

}  // namespace
