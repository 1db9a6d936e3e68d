// Start-up, the close path and the settings round trip of the two windows.
#include <QCoreApplication>
#include <QCloseEvent>
#include <QTabWidget>

#include "WindowsFixture.h"

namespace {

using Lifecycle = WindowsFixture;

// Sends a close request the way the window manager does.
bool RequestClose(TForm1& form)
{
    return form.Close();
}

TEST_F(Lifecycle, CloseTableHideToTrayWhenMinimizeOnCloseAndNoExit)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    form->ClockRunning = true;
    EXPECT_FALSE(RequestClose(*form));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(sim.messageBox.shown.empty());
    EXPECT_FALSE(form->Closed());
}

TEST_F(Lifecycle, CloseTableExitWithMinimizeOnCloseAndStoppedClockEnds)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    form->Exit1->Click();
    EXPECT_TRUE(form->Closed());
    EXPECT_TRUE(std::filesystem::exists(ini));  // written at every exit
    EXPECT_TRUE(sim.messageBox.shown.empty());
}

TEST_F(Lifecycle, CloseTableRunningClockAsksAndNoKeepsWindowAndExitSticks)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    form->ClockRunning = true;
    sim.messageBox.answers = {IDNO};
    form->Exit1->Click();
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, "Do you want to stop your time clock and exit?");
    EXPECT_EQ(sim.messageBox.shown[0].caption, "Time Clock Still Running");
    EXPECT_EQ(sim.messageBox.shown[0].type, MB_YESNO);
    EXPECT_FALSE(form->Closed());
    EXPECT_FALSE(form->CloseWhenStopped);
    // ExitRequested stays set: the close button now asks too instead of hiding.
    sim.messageBox.answers = {IDNO};
    EXPECT_FALSE(RequestClose(*form));
    EXPECT_EQ(sim.messageBox.shown.size(), 2u);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Lifecycle, CloseTableUncheckedStoppedClosesUncheckedRunningAsks)
{
    form->show();
    form->ClockRunning = true;
    sim.messageBox.answers = {IDNO};
    EXPECT_FALSE(RequestClose(*form));
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
    form->ClockRunning = false;
    EXPECT_TRUE(RequestClose(*form));
    EXPECT_TRUE(form->Closed());
}

TEST_F(Lifecycle, YesSetsCloseWhenStoppedAndAsksTheServiceForTheStop)
{
    form->show();
    form->ClockRunning = true;
    sim.messageBox.answers = {IDYES};
    EXPECT_FALSE(RequestClose(*form));
    EXPECT_TRUE(form->CloseWhenStopped);
    // The login's page is still loading: the stop waits for it.
    ASSERT_TRUE(form->Mirror.Pending());
    EXPECT_EQ(form->Mirror.Pending()->source, TIntentSource::Exit);
    EXPECT_EQ(form->Mirror.Pending()->want, TClockState::Stopped);
    EXPECT_FALSE(form->Closed());
}

TEST_F(Lifecycle, FailedSaveAsksWhetherToCloseAnyway)
{
    form->show();
    std::filesystem::remove_all(dir);  // the folder is gone: nothing can be written
    sim.messageBox.answers = {IDNO};
    EXPECT_FALSE(RequestClose(*form));
    EXPECT_FALSE(form->Closed());
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text,
              "The settings could not be saved (Unable to write to " + ini + "). Close anyway?");
    EXPECT_EQ(sim.messageBox.shown[0].type & MB_BUTTONS_MASK, MB_YESNO);

    sim.messageBox.answers = {IDYES};
    EXPECT_TRUE(RequestClose(*form));
    EXPECT_TRUE(form->Closed());
}

TEST_F(Lifecycle, SessionEndIsNotRefusedByHideToTray)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    SimEndSessionRequest request;
    sim.session.QueryEnd(request);
    EXPECT_FALSE(request.cancelled);
    EXPECT_EQ(request.interactionRequests, 0);
    EXPECT_TRUE(std::filesystem::exists(ini));
    // Never quits inside the request: the session's end comes on its own.
    EXPECT_FALSE(form->Closed());
}

TEST_F(Lifecycle, SessionEndWhileRunningAsksAndWaits)
{
    form->show();
    prefs->cbxMinimizeOnClose->SetChecked(true);
    form->ClockRunning = true;
    sim.messageBox.answers = {IDYES};
    SimEndSessionRequest request;
    sim.session.QueryEnd(request);
    EXPECT_TRUE(request.cancelled);
    EXPECT_TRUE(request.released);
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_TRUE(form->CloseWhenStopped);
    // Once the clock is seen stopped the close goes through, not to the tray.
    form->ClockRunning = false;
    EXPECT_TRUE(RequestClose(*form));
}

TEST_F(Lifecycle, FirstRunOpensServerTabAndRepeatsUntilFileExists)
{
    form->show();
    // Mapped after the main window, in the next turn, so they get the keyboard.
    EXPECT_FALSE(prefs->isVisible());
    QCoreApplication::sendPostedEvents(prefs.get(), QEvent::MetaCall);
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_EQ(prefs->PageControl1->currentWidget(), prefs->tabServer);
    EXPECT_FALSE(sim.taskbar.visible);  // removed from the taskbar by default
    prefs->hide();
    form->hide();
    form->show();
    QCoreApplication::sendPostedEvents(prefs.get(), QEvent::MetaCall);
    EXPECT_TRUE(prefs->isVisible());
}

TEST_F(Lifecycle, ExistingFileLoadsAndChoosesEnhancementsTab)
{
    WriteIni("[Form]\nRemoveFromTaskBar=0\n[Prefs]\nUsername=ann\nPassword=frperg\n");
    form->show();
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(prefs->PageControl1->currentWidget(), prefs->tabExtra);
    EXPECT_EQ(prefs->edtUsername->Text(), "ann");
    EXPECT_EQ(prefs->edtPassword->Text(), "secret");
    EXPECT_TRUE(sim.taskbar.visible);
    // Missing keys take their defaults for a missing key, not the first-run ones.
    EXPECT_TRUE(prefs->cbxMinuteReminder->Checked());
    EXPECT_EQ(prefs->edtBaseURL->Text(), LocalBaseURL());
    EXPECT_EQ(prefs->edtTickingSound->Value(), 60);
    EXPECT_EQ(prefs->edtMinuteReminder->Value(), 20);
    EXPECT_EQ(prefs->edtIdleTimeCheck->Value(), 2);
}

TEST_F(Lifecycle, SaveWritesAllKeysInOrderAndRoundTrips)
{
    prefs->edtPassword->SetText("abc");
    prefs->hotkeyStartStop->SetHotKey(0xC041);
    prefs->edtTickingSound->SetValue(30);
    prefs->SaveSettings(ini);
    const std::string text = ReadIni();
    const char* keys[] = {"Top=", "Left=", "MinimizeOnClose=0", "UseTransparency=1", "RemoveFromTaskBar=1",
                          "BaseURL=", "Username=", "Password=nop", "PlayTickingSound=0", "TickingSoundInterval=30",
                          "HotKeyStartStop=49217", "ShowMinuteReminder=0", "MinuteReminderInterval=20",
                          "AutoStopStartOnIdleTime=0", "AutoStopStartOnIdleTimeMinutes=2"};
    std::size_t at = text.find("[Form]");
    ASSERT_NE(at, std::string::npos);
    for (const char* k : keys) {
        const std::size_t next = text.find(std::string("\n") + k, at);
        ASSERT_NE(next, std::string::npos) << k << " missing or out of order in:\n" << text;
        at = next + 1;
    }
    EXPECT_LT(text.find("[Form]"), text.find("[Prefs]"));

    prefs->edtPassword->SetText("");
    prefs->hotkeyStartStop->SetHotKey(0);
    prefs->LoadSettings(ini);
    EXPECT_EQ(prefs->edtPassword->Text(), "abc");
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 0xC041);
}

TEST_F(Lifecycle, HotKeyZeroStoredStaysEmptyAndMissingKeepsField)
{
    WriteIni("[Prefs]\nHotKeyStartStop=0\n");
    prefs->LoadSettings(ini);
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 0);
    prefs->hotkeyStartStop->SetHotKey(0x8041);
    WriteIni("[Prefs]\n");
    prefs->LoadSettings(ini);
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 0x8041);
}

TEST(Rot13, RotatesLettersOnly)
{
    EXPECT_EQ(Rot13("abc"), "nop");
    EXPECT_EQ(Rot13("nop"), "abc");
    EXPECT_EQ(Rot13("Hello, World 42!"), "Uryyb, Jbeyq 42!");
    EXPECT_EQ(Rot13(""), "");
    const std::string accented = "caf\xc3\xa9 \x01\xff";
    EXPECT_EQ(Rot13(accented), "pns\xc3\xa9 \x01\xff");
    EXPECT_EQ(Rot13(Rot13("The Quick Brown Fox")), "The Quick Brown Fox");
}

}  // namespace
