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
    std::string Shown() const { return view->document ? view->document->html : std::string(); }
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
    EXPECT_NE(Shown().find("Cannot reach 127.0.0.1:8080: connection refused"), std::string::npos) << Shown();
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

// Start and stop whose pages fail, in both engine orders.
class Revert : public Network, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        Network::SetUp();
        SetAsync(GetParam());
        std::filesystem::create_directories(std::filesystem::path(TForm1::TickingSoundPath()).parent_path());
        soundCreated = !std::filesystem::exists(TForm1::TickingSoundPath());
        if (soundCreated) std::ofstream(TForm1::TickingSoundPath()) << "RIFF";
        prefs->cbxPlayTickingSound->SetChecked(true);
        prefs->cbxMinuteReminder->SetChecked(true);
        prefs->edtMinuteReminder->SetValue(7);
        page = kTimerPage;
        ShowTimerPage();
    }
    void TearDown() override
    {
        if (soundCreated) std::filesystem::remove(TForm1::TickingSoundPath());
        Network::TearDown();
    }
    bool soundCreated = false;
};

TEST_P(Revert, StartTheServiceDidNotTakeIsUndone)
{
    const std::string caption = form->windowTitle().toStdString();
    serviceDown = true;
    Toggle(form->StartClock1);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_EQ(form->windowTitle().toStdString(), caption);
    EXPECT_EQ(Application().Title(), caption);
    EXPECT_FALSE(form->tryIcon->CycleIcons());
    EXPECT_EQ(form->tryIcon->IconIndex(), 0);
    EXPECT_TRUE(form->StartClock1->Visible());
    EXPECT_FALSE(form->StopClock1->Visible());
    EXPECT_FALSE(form->tmrTickingSound.Enabled());
    EXPECT_FALSE(form->tmrMinuteReminder.Enabled());
    EXPECT_EQ(LastBalloon().text, "Could not reach the service: the clock was not started.");
    EXPECT_TRUE(StatusPageShown());
    EXPECT_FALSE(serviceRunning);

    // The caption is not rewritten by the running time afterwards.
    sim.Advance(5000);
    EXPECT_EQ(form->windowTitle().toStdString(), caption);
    ServiceBack();
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_TRUE(form->Link.Connected());
}

TEST_P(Revert, StopTheServiceDidNotTakeIsUndone)
{
    Toggle(form->StartClock1);
    ASSERT_TRUE(form->ClockRunning);
    ASSERT_TRUE(serviceRunning);
    const double started = form->StartTime;
    sim.Advance(180000);
    const std::string caption = form->windowTitle().toStdString();
    ASSERT_EQ(caption, "3 min.");
    const int index = form->tryIcon->IconIndex();

    serviceDown = true;
    Toggle(form->StopClock1);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_EQ(form->windowTitle().toStdString(), caption);
    EXPECT_DOUBLE_EQ(form->StartTime, started);
    EXPECT_TRUE(form->tryIcon->CycleIcons());
    EXPECT_EQ(form->tryIcon->IconIndex(), index);
    EXPECT_FALSE(form->StartClock1->Visible());
    EXPECT_TRUE(form->StopClock1->Visible());
    EXPECT_TRUE(form->tmrTickingSound.Enabled());
    EXPECT_TRUE(form->tmrMinuteReminder.Enabled());
    EXPECT_EQ(form->tmrMinuteReminder.Interval(), 7u * 60000u);
    EXPECT_EQ(LastBalloon().text, "Could not reach the service: the clock was not stopped.");
    EXPECT_EQ(sim.soundPlayers.created.back()->log.back(), "play");

    // The service is back: its timer page is loaded again and the clock is
    // still shown running, as the service has it.
    sim.Advance(5000);
    ServiceBack();
    EXPECT_TRUE(form->Link.Connected());
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(serviceRunning);
    EXPECT_EQ(form->windowTitle().toStdString(), "3 min.");
    // The next toggle stops it for real.
    Toggle(form->StopClock1);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_FALSE(serviceRunning);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, Revert, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Late" : "Inside"; });

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

TEST_P(Idle, AutoStopOnPageWithoutFormThenTimerPageAndActiveTickClicksNothing)
{
    page = "<p>No form here</p>";
    ShowTimerPage();
    form->ClockStarted();
    const std::size_t toggles = Toggles();
    sim.Advance(60000);
    EXPECT_EQ(Toggles(), toggles);
    EXPECT_EQ(LastBalloon().text, "The clock could not be stopped automatically: the page has no start/stop form.");
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(form->IdleStopped);
    sim.Advance(60000);  // no second try until a transition
    EXPECT_EQ(Toggles(), toggles);

    page = kTimerPage;
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    Load();
    EXPECT_FALSE(form->IdleStopped);
    Active();
    sim.Advance(2000);
    Settle();
    EXPECT_EQ(Toggles(), toggles);
}

TEST_P(Idle, SubmissionThatNeverComesLosesItsClaim)
{
    StartRunning();
    pageHasForm = false;  // the form is on the page but submits nothing
    const std::size_t toggles = Toggles();
    sim.Advance(60000);
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_TRUE(form->IdleStopped);
    // A stop reported later (the user's own, after the claim ran out) is not
    // taken for an idle stop, and nothing restarts the clock.
    sim.Advance(30000);
    form->ClockStopped();
    EXPECT_FALSE(form->IdleStopped);
    Active();
    sim.Advance(5000);
    EXPECT_EQ(Toggles(), toggles + 1);
    EXPECT_FALSE(form->ClockRunning);
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
