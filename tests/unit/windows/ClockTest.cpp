// Clock transitions, the toggle and what they show.
#include "ClockFixture.h"
#include "components/Application.h"
#include "components/Format.h"

namespace {

using Clock = ClockFixture;

TEST_F(Clock, StartShowsRunningStateInOrder)
{
    prefs->cbxMinuteReminder->SetChecked(true);
    prefs->edtMinuteReminder->SetValue(5);
    form->WorkItemName = "R&&D";
    form->ClockStarted();
    EXPECT_EQ(form->windowTitle().toStdString(), "Working...");
    EXPECT_EQ(Application().Title(), "Working...");
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_TRUE(form->tryIcon->CycleIcons());
    EXPECT_FALSE(form->StartClock1->Visible());
    EXPECT_TRUE(form->StopClock1->Visible());
    EXPECT_TRUE(form->tmrMinuteReminder.Enabled());
    EXPECT_EQ(form->tmrMinuteReminder.Interval(), 300000u);
    const auto b = LastBalloon();
    EXPECT_EQ(b.title, "Started Work @ " + FormatLongTime(sim.clock.Now()));
    EXPECT_EQ(b.text, "R&&D");
    EXPECT_EQ(b.kind, NIIF_INFO);
    EXPECT_EQ(b.timeout, 60000u);
}

TEST_F(Clock, IconBlinksWhileRunningAndRestsAtZero)
{
    form->ClockStarted();
    EXPECT_EQ(form->tryIcon->IconIndex(), 0);
    sim.Advance(1000);
    EXPECT_EQ(form->tryIcon->IconIndex(), 1);
    sim.Advance(1000);
    EXPECT_EQ(form->tryIcon->IconIndex(), 0);
    form->ClockStopped();
    EXPECT_FALSE(form->tryIcon->CycleIcons());
    EXPECT_EQ(form->tryIcon->IconIndex(), 0);
}

TEST_F(Clock, BreakNotes)
{
    struct Case {
        std::uint32_t seconds;
        const char* note;
    } cases[] = {{45, "45 second "}, {60, "60 second "}, {61, "1.02 minute "}, {90, "1.5 minute "}, {330, "5.5 minute "}};
    for (const auto& c : cases) {
        form->ClockRunning = false;
        form->IdleStopped = true;
        form->BreakSeconds = c.seconds;
        form->WorkItemName = "Item";
        form->ClockStarted();
        EXPECT_EQ(LastBalloon().text, std::string("Item\r\n(You took a ") + c.note + " break)") << c.seconds;
        EXPECT_FALSE(form->IdleStopped);
        EXPECT_EQ(form->BreakSeconds, 0u);
    }
    // A manual start after a manual stop carries no note.
    form->ClockStopped();
    form->ClockStarted();
    EXPECT_EQ(LastBalloon().text, "Item");
}

TEST_F(Clock, StopBalloonMinutes)
{
    form->WorkItemName = "Item";
    form->ClockStarted();
    sim.Advance(30000);
    form->ClockStopped();
    auto b = LastBalloon();
    EXPECT_EQ(b.title, "Stopped Work @ " + FormatLongTime(sim.clock.Now()) + " (.5 mins)");
    EXPECT_EQ(b.text, "Item");
    EXPECT_EQ(b.timeout, 10000u);
    EXPECT_EQ(form->windowTitle().toStdString(), "Not working");

    form->ClockStarted();
    form->ClockStopped();
    EXPECT_NE(LastBalloon().title.find(" ( mins)"), std::string::npos) << LastBalloon().title;
}

TEST_F(Clock, StopWhileStoppedChangesNothingSecondStartRestartsTime)
{
    const int before = BalloonCount();
    form->ClockStopped();
    EXPECT_EQ(BalloonCount(), before);
    EXPECT_EQ(form->windowTitle().toStdString(), "Chronel Timer");

    form->ClockStarted();
    sim.Advance(120000);
    form->ClockStarted();  // a second start notice
    sim.Advance(60000);
    form->ClockStopped();
    EXPECT_NE(LastBalloon().title.find("(1 mins)"), std::string::npos) << LastBalloon().title;
}

TEST_F(Clock, RunAcrossMidnightCountsRealDuration)
{
    sim.clock.startDateTime = 46027.0 + (23 * 60 + 50) / 1440.0;
    form->ClockStarted();
    sim.Advance(20 * 60 * 1000);
    form->ClockStopped();
    EXPECT_NE(LastBalloon().title.find("(20 mins)"), std::string::npos) << LastBalloon().title;
}

TEST_F(Clock, CloseWhenStoppedEndsTheProgram)
{
    form->show();
    ShowTimerPage();
    form->ClockStarted();
    serviceRunning = true;
    sim.messageBox.answers = {IDYES};
    form->Close();  // asks, toggles: the page stops the clock, the window closes
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_TRUE(std::filesystem::exists(ini));
}

TEST_F(Clock, ToggleRunsTheScriptAndFollowsThePage)
{
    ShowTimerPage();
    Toggle(form->StartClock1);
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back(),
              "if (document.frmStartStop){ document.frmStartStop.submit(); }else{ alert('You must be logged in and on "
              "the timer page before this works'); }");
    EXPECT_TRUE(form->ClockRunning);
    Toggle(form->StopClock1);
    EXPECT_FALSE(form->ClockRunning);
}

TEST_F(Clock, TickingSoundMissingFileStartsSilently)
{
    prefs->cbxPlayTickingSound->SetChecked(true);
    form->ClockStarted();
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_FALSE(form->tmrTickingSound.Enabled());
    EXPECT_TRUE(form->mplayer.FileName().empty());
}

TEST_F(Clock, RunningMinutesAndIdleCaption)
{
    form->ClockStarted();
    sim.Advance(59000);
    EXPECT_EQ(form->windowTitle().toStdString(), "0 min.");
    sim.Advance(1000);
    EXPECT_EQ(form->windowTitle().toStdString(), "1 min.");
    prefs->cbxIdleTimeCheck->SetChecked(true);
    sim.lastInput.tick = sim.clock.GetTickCount();
    sim.Advance(1000);
    EXPECT_EQ(form->windowTitle().toStdString(), "1 min. not idle ");
    sim.Advance(44000);
    EXPECT_EQ(form->windowTitle().toStdString(), "1 min. 45/120 sec idle stop");
    // Input stamped just after the clock was read is input now, not an
    // endless idle time that stops the clock.
    sim.lastInput.tick = sim.clock.GetTickCount() + 1500;
    sim.Advance(1000);
    EXPECT_EQ(form->windowTitle().toStdString(), "1 min. not idle ");
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_FALSE(form->Mirror.Pending());
}

TEST_F(Clock, IdleStopAndRestartReportTheBreak)
{
    IdleRoundTrip();
    EXPECT_EQ(LastBalloon().text, "Item\r\n(You took a 5.52 minute  break)");
}

TEST_F(Clock, IdleStopAndRestartWithLateNavigationReports)
{
    SetAsync(true);
    IdleRoundTrip();
    EXPECT_EQ(LastBalloon().text, "Item\r\n(You took a 5.52 minute  break)");
}

TEST_F(Clock, HotKeyTogglesAndRefusedComboClearsField)
{
    ShowTimerPage();
    prefs->hotkeyStartStop->SetHotKey(32960);
    form->RegisterStartStopHotKey();
    EXPECT_TRUE(sim.hotKeys.Press(MOD_ALT, 0xC0));
    sim.ProcessMessages();
    EXPECT_TRUE(form->ClockRunning);

    sim.hotKeys.Reserve(MOD_CONTROL | MOD_ALT, 'A');
    prefs->hotkeyStartStop->SetHotKey(0xC041);
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 0);

    form->RegisterStartStopHotKey();  // empty field: withdrawn
    EXPECT_FALSE(sim.hotKeys.Press(MOD_ALT, 0xC0));
}

TEST_F(Clock, TransparencyFollowsActivation)
{
    form->show();
    sim.appState.Deactivate();
    EXPECT_NEAR(form->windowOpacity(), 127.0 / 255.0, 0.01);
    sim.appState.Activate();
    EXPECT_DOUBLE_EQ(form->windowOpacity(), 1.0);
    prefs->cbxUseTransparency->SetChecked(false);
    sim.appState.Deactivate();
    EXPECT_DOUBLE_EQ(form->windowOpacity(), 1.0);
}

}  // namespace
