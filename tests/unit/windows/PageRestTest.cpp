// The page let go while the window is out of sight, and brought back with
// the engine's session by whatever needs it (the credentials go out only
// when the service asks for them); a start or stop asked meanwhile is carried
// out once, after the page is back, whichever order the engine reports in.
#include <QTimer>

#include "ClockFixture.h"

namespace {

class PageRest : public ClockFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ClockFixture::SetUp();
        SetAsync(GetParam());
        prefs->edtUsername->SetText("ann");
        prefs->edtPassword->SetText("pw");
        prefs->cbxRemoveFromTaskBar->SetChecked(true);
        page = "<form name=frmStartStop></form><option selected>Item</option>";
        form->show();
        // The login goes out after the map; its answer is the timer page.
        QTimer::singleShot(0, form.get(), [this] { Load(); });
        form->FormPaint();
        Load();
        ASSERT_TRUE(form->Link.Connected());
        ASSERT_FALSE(view->busy);
    }

    std::size_t LoginsPosted() const
    {
        std::size_t n = 0;
        for (const auto& nav : view->navigations)
            if (nav.url == form->LoginURL && !nav.postData.empty()) ++n;
        return n;
    }

    // Hidden to the tray until the page has been let go.
    void HideUntilDiscarded()
    {
        form->HidetoTray1Click();
        ASSERT_FALSE(form->isVisible());
        sim.Advance(TForm1::kPageRestMs + 10);
        ASSERT_TRUE(view->Discarded());
        ASSERT_FALSE(view->document);
    }

    // The timer page arrives, then whatever it submits.
    void PageComesBack()
    {
        ASSERT_TRUE(view->busy);
        ASSERT_EQ(view->pendingUrl, base + "time_log.php?smallbtn=1");
        Load();
        Settle();
    }
};

TEST_P(PageRest, LetGoOnlyAfterTheWindowIsOutOfSightAWhileAndOnlyAtRest)
{
    form->HidetoTray1Click();
    sim.Advance(TForm1::kPageRestMs - 1000);
    EXPECT_FALSE(view->Discarded());
    form->tryIconDblClick();  // back in sight: the count starts again next time
    form->HidetoTray1Click();
    sim.Advance(2000);
    EXPECT_FALSE(view->Discarded());
    sim.Advance(TForm1::kPageRestMs);
    EXPECT_TRUE(view->Discarded());
    EXPECT_EQ(view->discards, 1);
    // Caption, tray and menu stay as the page left them.
    EXPECT_EQ(form->StartClock1->Caption(), "Start: Item");
    EXPECT_TRUE(form->Link.Connected());

    // A page still loading is not let go; it is once it has loaded.
    form->tryIconDblClick();
    ASSERT_TRUE(view->busy);
    Load();
    form->HidetoTray1Click();
    view->PageNavigate(base + "time_log.php?smallbtn=1");
    sim.Advance(TForm1::kPageRestMs + 10);
    EXPECT_FALSE(view->Discarded());
    Load();
    sim.Advance(TForm1::kPageRestMs + 10);
    EXPECT_TRUE(view->Discarded());

    // Minimized counts as out of sight; the restore brings the page back.
    form->tryIconDblClick();
    Load();
    prefs->cbxRemoveFromTaskBar->SetChecked(false);
    form->HidetoTray1Click();
    ASSERT_TRUE(sim.appState.minimized);
    sim.Advance(TForm1::kPageRestMs + 10);
    EXPECT_TRUE(view->Discarded());
    const std::size_t logins = LoginsPosted();
    sim.appState.Restore();
    EXPECT_EQ(view->pendingUrl, base + "time_log.php?smallbtn=1");
    Load();
    EXPECT_EQ(LoginsPosted(), logins) << "the session still held: no credentials";
    // The page that came back has the host object again.
    ASSERT_TRUE(view->document);
    EXPECT_TRUE(view->document->uiHandler);
}

TEST_P(PageRest, PressWhileLetGoIsCarriedOutOnceAfterThePageIsBack)
{
    prefs->cbxMinuteReminder->SetChecked(true);
    prefs->edtMinuteReminder->SetValue(2);
    for (const bool start : {true, false}) {
        SCOPED_TRACE(start ? "start" : "stop");
        HideUntilDiscarded();
        const int done = carriedOut;
        const std::size_t logins = LoginsPosted();
        const int pages = view->pagesMade;
        TMenuItem* item = start ? form->StartClock1 : form->StopClock1;
        item->Click();
        // The tray again, and the window shown while the page loads: still one login, one toggle.
        item->Click();
        form->tryIconDblClick();
        form->HidetoTray1Click();
        EXPECT_EQ(LoginsPosted(), logins);
        EXPECT_EQ(view->pagesMade, pages + 1);
        EXPECT_EQ(carriedOut, done);
        PageComesBack();
        EXPECT_EQ(carriedOut, done + 1);
        EXPECT_EQ(serviceRunning, start);
        EXPECT_EQ(form->ClockRunning, start);
        EXPECT_FALSE(form->Mirror.Pending());
        if (start) {
            // While the page is let go again the caption counts and the reminder comes.
            HideUntilDiscarded();
            const int balloons = BalloonCount();
            sim.Advance(60000);
            EXPECT_EQ(form->windowTitle().toStdString().rfind("Working", 0), std::string::npos);
            EXPECT_NE(form->windowTitle().toStdString().find("min"), std::string::npos);
            EXPECT_GT(BalloonCount(), balloons);
            EXPECT_EQ(LastBalloon().title.rfind("Working since", 0), 0u) << LastBalloon().title;
            EXPECT_TRUE(view->Discarded());
            form->tryIconDblClick();
            PageComesBack();
            EXPECT_EQ(carriedOut, done + 1);
            form->HidetoTray1Click();
        }
    }
}

TEST_P(PageRest, IdleStopAndTheExitBringThePageBack)
{
    prefs->cbxIdleTimeCheck->SetChecked(true);
    prefs->edtIdleTimeCheck->SetValue(5);
    sim.lastInput.tick = sim.clock.GetTickCount();
    Toggle(form->StartClock1);
    ASSERT_TRUE(serviceRunning);
    HideUntilDiscarded();
    // Five idle minutes: the stop waits for the page it brings back.
    sim.Advance(4 * 60000);
    EXPECT_EQ(view->pagesMade, 2);
    PageComesBack();
    EXPECT_FALSE(serviceRunning);
    EXPECT_TRUE(form->IdleStopped);
    // The user is back: the restart too.
    sim.Advance(TForm1::kPageRestMs);
    ASSERT_TRUE(view->Discarded());
    sim.lastInput.tick = sim.clock.GetTickCount();
    sim.Advance(1000);
    PageComesBack();
    EXPECT_TRUE(serviceRunning);
    EXPECT_EQ(carriedOut, 3);

    // Exit with the clock running: the stop goes through the page brought back, then the program ends.
    sim.Advance(TForm1::kPageRestMs);
    ASSERT_TRUE(view->Discarded());
    sim.messageBox.answers = {IDYES};
    form->Exit1Click();
    PageComesBack();
    EXPECT_FALSE(serviceRunning);
    EXPECT_EQ(carriedOut, 4);
    EXPECT_TRUE(form->Closed());
}

TEST_P(PageRest, StopWhileLetGoWithItsAnswerLostIsNotShownAsDone)
{
    Toggle(form->StartClock1);
    ASSERT_TRUE(serviceRunning);
    HideUntilDiscarded();
    // The service's session ended meanwhile; the stop is taken, but its answer is lost.
    sessionExpired = true;
    loseAnswers = 1;
    const std::size_t logins = LoginsPosted();
    form->StopClock1->Click();
    // The timer page answers with the login page: now the credentials go, once.
    Load();
    ASSERT_EQ(view->pendingUrl, form->LoginURL);
    EXPECT_EQ(LoginsPosted(), logins + 1);
    sessionExpired = false;  // the fresh login renews it
    Load();
    Settle();
    EXPECT_FALSE(serviceRunning);
    EXPECT_EQ(carriedOut, 2);
    // The window does not claim the stop it never saw confirmed.
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_EQ(LastBalloon().text, "Could not reach the service: the clock may not have been stopped. The window "
                                  "shows the service's clock when it answers again.");
    // The next page of the service has the last word, and nothing is submitted again.
    view->Navigate(base + "time_log.php?smallbtn=1", 0, {}, {}, {});
    Load();
    Settle();
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_EQ(carriedOut, 2);
}

TEST_P(PageRest, WithoutAStoredPasswordTheSessionSurvivesTheRest)
{
    // The user typed the password into the page; none is stored.
    prefs->edtPassword->SetText("");
    const std::size_t posts = view->navigations.size();
    HideUntilDiscarded();
    form->tryIconDblClick();
    // The page comes back with the engine's session: no login, no empty password posted.
    ASSERT_EQ(view->pendingUrl, base + "time_log.php?smallbtn=1");
    EXPECT_TRUE(view->navigations.back().postData.empty());
    Load();
    EXPECT_TRUE(form->Link.Connected());
    EXPECT_EQ(view->navigations.size(), posts + 1);
    // The service forgot the session meanwhile: its login form comes back, with the keys in its password field.
    form->HidetoTray1Click();
    sim.Advance(TForm1::kPageRestMs + 10);
    ASSERT_TRUE(view->Discarded());
    sessionExpired = true;
    scripts.clear();
    form->tryIconDblClick();
    Load();
    EXPECT_EQ(view->navigations.size(), posts + 2) << "nothing posted for the user";
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back(), TServiceUrls::FocusPasswordScript());
}

INSTANTIATE_TEST_SUITE_P(BothOrders, PageRest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Late" : "Inside"; });

}  // namespace
