// The main window at the session's edges: a later start, the session's end,
// the session manager's question, sleep; and the autostart box.
#include <QCoreApplication>

#include "ClockFixture.h"
#include "platform/desktop/DesktopSession.h"

namespace {

using Session = ClockFixture;

TEST_F(Session, LaterStartShowsTheHiddenWindow)
{
    form->show();
    form->HidetoTray1->Click();
    ASSERT_FALSE(form->isVisible());
    sim.instance.LaterStart();
    EXPECT_TRUE(form->isVisible());
    // Already shown: brought to the front.
    sim.input.foreground.clear();
    sim.instance.LaterStart();
    ASSERT_FALSE(sim.input.foreground.empty());
    EXPECT_EQ(sim.input.foreground.back(), form.get());
}

TEST_F(Session, StartHiddenLoadsAndLogsInWithoutShowing)
{
    WriteIni("[Prefs]\nBaseURL=" + base + "\nUsername=ann\nPassword=frperg\n");
    page = "<form name=frmStartStop></form>";
    form->StartHidden();
    QTimer::singleShot(20, [this] { Load(); });  // the login page arrives while the first paint waits
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(prefs->edtUsername->Text(), "ann");
    ASSERT_FALSE(view->navigations.empty());
    EXPECT_EQ(view->navigations.front().postData, "pw=secret");
}

TEST_F(Session, TrayIconDocksAfterTheShowOrAtOnceWhenStartedHidden)
{
    EXPECT_TRUE(sim.notifyIcons.icons.empty());  // the window maps first
    QTimer::singleShot(20, [this] { Load(); });  // the login's page, while the first paint waits
    form->StartHidden();                         // no window: the icon is all there is
    EXPECT_EQ(sim.notifyIcons.icons.size(), 1u);
    QCoreApplication::processEvents();
    EXPECT_EQ(sim.notifyIcons.icons.size(), 1u);
}

TEST_F(Session, EndSavesAndExitsWithoutAskingWhileTheClockRuns)
{
    form->show();
    ShowTimerPage();
    Toggle(form->StartClock1);
    ASSERT_TRUE(form->ClockRunning);
    form->move(40, 70);
    sim.session.End();
    EXPECT_TRUE(form->Closed());
    EXPECT_TRUE(sim.messageBox.shown.empty());
    EXPECT_TRUE(serviceRunning);  // the clock stays as it is at the service
    EXPECT_NE(ReadIni().find("Left=40"), std::string::npos);
    const std::size_t scriptsBefore = scripts.size();
    sim.session.End();  // a second signal changes nothing
    EXPECT_EQ(scripts.size(), scriptsBefore);
}

TEST_F(Session, LogOffWithStoppedClockSavesAndChangesNothing)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    SimEndSessionRequest request;
    sim.session.QueryEnd(request);
    EXPECT_FALSE(request.cancelled);
    EXPECT_TRUE(std::filesystem::exists(ini));
    // The log-off was cancelled elsewhere: the close button still hides.
    EXPECT_FALSE(form->ExitRequested);
    EXPECT_FALSE(form->Close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->Closed());
}

TEST_F(Session, LogOffWhileRunningAsksOnlyWithLeaveAndNoChangesNothing)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    ShowTimerPage();
    Toggle(form->StartClock1);
    ASSERT_TRUE(form->ClockRunning);

    SimEndSessionRequest silent;
    silent.allowInteraction = false;
    sim.session.QueryEnd(silent);
    EXPECT_EQ(silent.interactionRequests, 1);
    EXPECT_TRUE(sim.messageBox.shown.empty());
    EXPECT_FALSE(silent.cancelled);  // nothing may be asked: the session ends, the clock as it is
    EXPECT_TRUE(std::filesystem::exists(ini));

    SimEndSessionRequest asked;
    sim.messageBox.answers = {IDNO};
    sim.session.QueryEnd(asked);
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, "Do you want to stop your time clock and exit?");
    EXPECT_TRUE(asked.released);
    EXPECT_TRUE(asked.cancelled);
    EXPECT_FALSE(form->ExitRequested);
    EXPECT_FALSE(form->CloseWhenStopped);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_FALSE(form->Close());  // still hides to the tray
    EXPECT_FALSE(form->isVisible());
}

TEST_F(Session, LogOffAnsweredYesStopsTheClockThenEnds)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    ShowTimerPage();
    Toggle(form->StartClock1);
    SimEndSessionRequest request;
    sim.messageBox.answers = {IDYES};
    sim.session.QueryEnd(request);
    EXPECT_TRUE(request.cancelled);  // the stop must reach the service first
    EXPECT_FALSE(serviceRunning);
    EXPECT_FALSE(form->ClockRunning);
    Load();  // the stopped page: the window closes, not to the tray
    EXPECT_TRUE(form->Closed());
}

TEST_F(Session, SleepSavesTheSettings)
{
    form->show();
    form->move(30, 60);
    sim.session.Suspend();
    EXPECT_NE(ReadIni().find("Left=30"), std::string::npos);
}

class SleepResume : public ClockFixture {
protected:
    void Running(bool idleCheck)
    {
        prefs->cbxIdleTimeCheck->SetChecked(idleCheck);
        prefs->edtIdleTimeCheck->SetValue(2);
        sim.lastInput.tick = sim.clock.GetTickCount();
        form->show();
        ShowTimerPage();
        Toggle(form->StartClock1);
        ASSERT_TRUE(form->ClockRunning);
    }
};

TEST_F(SleepResume, LongSleepStopsAsIdlenessWithTheBreakFromTheSleep)
{
    Running(true);
    sim.session.Resume(600);
    if (asyncEngine) Load();
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_FALSE(serviceRunning);
    EXPECT_TRUE(form->IdleStopped);
    EXPECT_EQ(form->BreakSeconds, 600u);
    sim.lastInput.tick = sim.clock.GetTickCount() - 300000;  // still away
    sim.Advance(30000);
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_EQ(form->BreakSeconds, 630u);
    sim.lastInput.tick = sim.clock.GetTickCount();  // the user is back
    sim.Advance(1000);
    if (asyncEngine) Load();
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_NE(LastBalloon().text.find("(You took a 10.52 minute  break)"), std::string::npos) << LastBalloon().text;
}

TEST_F(SleepResume, LongSleepWithTheLateEngineAlsoCountsTheBreak)
{
    asyncEngine = true;
    Running(true);
    sim.session.Resume(600);
    Load();
    EXPECT_FALSE(form->ClockRunning);
    EXPECT_TRUE(form->IdleStopped);
    EXPECT_EQ(form->BreakSeconds, 600u);
}

TEST_F(SleepResume, ShortSleepOrIdleCheckOffChangesNothing)
{
    Running(true);
    sim.session.Resume(119);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_FALSE(form->IdleStopped);
    prefs->cbxIdleTimeCheck->SetChecked(false);
    const std::size_t scriptsBefore = scripts.size();
    sim.session.Resume(100000);
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_EQ(scripts.size(), scriptsBefore);
    EXPECT_FALSE(form->IdleStopped);
}

TEST_F(SleepResume, StoppedClockIsLeftAlone)
{
    Running(true);
    Toggle(form->StopClock1);
    ASSERT_FALSE(form->ClockRunning);
    const std::size_t scriptsBefore = scripts.size();
    sim.session.Resume(100000);
    EXPECT_EQ(scripts.size(), scriptsBefore);
    EXPECT_FALSE(form->IdleStopped);
}

TEST(SleepAwareLastInputTest, SleepCountsAsIdleUntilTheNextInput)
{
    SimLastInput inner;
    inner.tick = 50000;
    SleepAwareLastInput input(&inner);
    std::uint32_t tick = 0;
    input.Slept(300000);
    ASSERT_TRUE(input.GetLastInputTick(tick));
    EXPECT_EQ(tick, 50000u - 300000u);  // wraps like the tick count
    input.Slept(1000);  // slept again without input in between
    ASSERT_TRUE(input.GetLastInputTick(tick));
    EXPECT_EQ(tick, 50000u - 301000u);
    inner.tick = 60000;  // the user is back
    ASSERT_TRUE(input.GetLastInputTick(tick));
    EXPECT_EQ(tick, 60000u);
    inner.ok = false;
    EXPECT_FALSE(input.GetLastInputTick(tick));
}

// A machine that never slept has equal boot-time and monotonic clocks; a
// negative reading there once made the program ignore the next sleep.
TEST(DesktopSessionTest, SuspendedTimeIsNeverNegative)
{
    for (int i = 0; i < 200000; ++i) ASSERT_GE(DesktopSession::SuspendedMs(), 0) << "read " << i;
}

TEST_F(Session, AutostartBoxFollowsTheEntryAndWritesIt)
{
    sim.autostart.enabled = true;
    prefs->show();
    EXPECT_TRUE(prefs->cbxStartWithSession->Checked());
    EXPECT_TRUE(sim.autostart.writes.empty());  // showing writes nothing
    prefs->cbxStartWithSession->click();
    EXPECT_EQ(sim.autostart.writes, std::vector<bool>{false});
    EXPECT_FALSE(sim.autostart.enabled);
    EXPECT_FALSE(prefs->SettingsChanged);  // not a setting of the file
    // A failed write shows why, and the box shows what is on disk.
    sim.autostart.fail = true;
    prefs->cbxStartWithSession->click();
    EXPECT_FALSE(prefs->cbxStartWithSession->Checked());
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, sim.autostart.error + ".");
    prefs->hide();
}

}  // namespace
