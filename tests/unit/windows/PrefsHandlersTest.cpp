// The preferences window's handlers: what marks a change and what reaches the timers.
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "WindowsFixture.h"

namespace {

using PrefsHandlers = WindowsFixture;

TEST_F(PrefsHandlers, MarkingChangesSetTheFlagOthersDoNot)
{
    EXPECT_FALSE(prefs->SettingsChanged);
    prefs->edtBaseURL->SetText("http://x/");
    prefs->cbxMinimizeOnClose->SetChecked(true);
    prefs->cbxMinuteReminder->SetChecked(true);
    prefs->edtMinuteReminder->SetValue(30);
    prefs->cbxIdleTimeCheck->SetChecked(true);
    prefs->edtIdleTimeCheck->SetValue(5);
    EXPECT_FALSE(prefs->SettingsChanged);

    for (auto change : std::initializer_list<std::function<void()>>{
             [&] { prefs->edtUsername->SetText("bob"); },
             [&] { prefs->edtPassword->SetText("pw"); },
             [&] { prefs->cbxPlayTickingSound->SetChecked(true); },
             [&] { prefs->edtTickingSound->SetValue(30); },
             [&] { prefs->cbxUseTransparency->SetChecked(false); },
             [&] { prefs->cbxRemoveFromTaskBar->SetChecked(false); },
         }) {
        prefs->SettingsChanged = false;
        change();
        EXPECT_TRUE(prefs->SettingsChanged);
    }
}

TEST_F(PrefsHandlers, ClosingWritesOnlyWhenMarkedAndClearsTheMark)
{
    prefs->show();
    prefs->edtBaseURL->SetText("http://only-base/");
    prefs->close();
    EXPECT_FALSE(std::filesystem::exists(ini));

    prefs->show();
    prefs->edtUsername->SetText("bob");
    prefs->close();
    EXPECT_TRUE(std::filesystem::exists(ini));
    EXPECT_FALSE(prefs->SettingsChanged);
    EXPECT_NE(ReadIni().find("Username=bob"), std::string::npos);
}

TEST_F(PrefsHandlers, FailedSaveKeepsPrefsOpenAndMarked)
{
    prefs->show();
    prefs->edtUsername->SetText("bob");
    std::filesystem::remove_all(dir);
    prefs->close();
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_TRUE(prefs->SettingsChanged);
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
}

TEST_F(PrefsHandlers, TickingIntervalReachesTimerAndRestartsIt)
{
    form->tmrTickingSound.SetEnabled(true);
    prefs->edtTickingSound->SetValue(30);
    EXPECT_EQ(form->tmrTickingSound.Interval(), 30000u);
    EXPECT_EQ(sim.windows.TimerInterval(form->tmrTickingSound.Handle(), 1), 30000u);
    // Deleting the text resets the field to its minimum at once.
    prefs->edtTickingSound->SetText("");
    EXPECT_EQ(prefs->edtTickingSound->Text(), "0");
    EXPECT_EQ(form->tmrTickingSound.Interval(), 0u);
}

TEST_F(PrefsHandlers, ReminderMinutesAndBoxFollowTheClock)
{
    prefs->cbxMinuteReminder->SetChecked(true);
    EXPECT_FALSE(form->tmrMinuteReminder.Enabled());  // clock stopped
    form->ClockRunning = true;
    prefs->edtMinuteReminder->SetValue(5);
    EXPECT_EQ(form->tmrMinuteReminder.Interval(), 300000u);
    EXPECT_TRUE(form->tmrMinuteReminder.Enabled());
    prefs->cbxMinuteReminder->SetChecked(false);
    EXPECT_FALSE(form->tmrMinuteReminder.Enabled());

    // Typing 0 stops the timer; leaving the field makes it 1 minute.
    prefs->edtMinuteReminder->SetText("0");
    EXPECT_EQ(form->tmrMinuteReminder.Interval(), 0u);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(prefs->edtMinuteReminder->Editor(), &out);
    EXPECT_EQ(prefs->edtMinuteReminder->Value(), 1);
    EXPECT_EQ(form->tmrMinuteReminder.Interval(), 60000u);
}

TEST_F(PrefsHandlers, TaskbarBoxActsAtOnceAndHelpOpensSite)
{
    prefs->cbxRemoveFromTaskBar->SetChecked(false);
    EXPECT_TRUE(sim.taskbar.visible);
    prefs->cbxRemoveFromTaskBar->SetChecked(true);
    EXPECT_FALSE(sim.taskbar.visible);
    prefs->HelpBtn->click();
    prefs->Label9Click();
    ASSERT_EQ(sim.shell.opened.size(), 2u);
    EXPECT_EQ(sim.shell.opened[0], std::make_pair(std::string("open"), ServiceWebSite()));
    EXPECT_EQ(sim.shell.opened[0], sim.shell.opened[1]);
    EXPECT_TRUE(sim.messageBox.shown.empty());
    // No program to open it: said, not swallowed.
    sim.shell.result = 2;
    prefs->HelpBtn->click();
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, "There was an error opening the link '" + ServiceWebSite() + "'.");
}

TEST_F(PrefsHandlers, LoadRunsHandlersForChangedValues)
{
    WriteIni("[Prefs]\nTickingSoundInterval=900\nMinuteReminderInterval=0\nPlayTickingSound=1\n");
    prefs->LoadSettings(ini);
    EXPECT_EQ(prefs->edtTickingSound->Value(), 600);
    EXPECT_EQ(form->tmrTickingSound.Interval(), 600000u);
    EXPECT_EQ(prefs->edtMinuteReminder->Value(), 1);
    EXPECT_EQ(form->tmrMinuteReminder.Interval(), 60000u);
    EXPECT_TRUE(prefs->SettingsChanged);
}

TEST_F(PrefsHandlers, EscapeDoesNotCloseEnterDoes)
{
    prefs->show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(prefs.get(), &esc);
    EXPECT_TRUE(prefs->isVisible());
    prefs->OKBtn->click();
    EXPECT_FALSE(prefs->isVisible());
}

TEST_F(PrefsHandlers, AboutPageNamesTheSystemItRunsOn)
{
    QStringList texts;
    for (const QLabel* label : prefs->findChildren<QLabel*>()) texts << label->text();
#if defined(Q_OS_LINUX)
    EXPECT_TRUE(texts.contains("Chronel Timer Client for Linux")) << texts.join(" | ").toStdString();
#elif defined(Q_OS_WIN)
    EXPECT_TRUE(texts.contains("Chronel Timer Client for Windows")) << texts.join(" | ").toStdString();
#endif
}

}  // namespace
