// Settings text is the file's bytes: a file written on Windows (ANSI code
// page) loads, shows, logs in and saves back unchanged.
#include <QTimer>

#include "ClockFixture.h"

namespace {

class SettingsText : public ClockFixture {
protected:
    // User "Jürgen", password "péss" (Rot13 "céff") in Windows-1252.
    const std::string ansiFile = "[Form]\r\nTop=0\r\nLeft=0\r\nMinimizeOnClose=0\r\nUseTransparency=1\r\n"
                                 "RemoveFromTaskBar=1\r\n[Prefs]\r\nBaseURL=http://127.0.0.1:1/\r\n"
                                 "Username=J\xFCrgen\r\nPassword=c\xE9\x66\x66\r\nPlayTickingSound=0\r\n"
                                 "TickingSoundInterval=60\r\nHotKeyStartStop=32960\r\nShowMinuteReminder=1\r\n"
                                 "MinuteReminderInterval=20\r\nAutoStopStartOnIdleTime=0\r\n"
                                 "AutoStopStartOnIdleTimeMinutes=2\r\n";
};

TEST_F(SettingsText, AnsiCredentialsRoundTripAndLogIn)
{
    WriteIni(ansiFile);
    prefs->LoadSettings(ini);
    EXPECT_EQ(prefs->edtUsername->text(), QString::fromUtf8("J\xC3\xBCrgen"));  // shown as Windows-1252
    EXPECT_EQ(prefs->edtPassword->text(), QString::fromUtf8("p\xC3\xA9ss"));
    EXPECT_EQ(prefs->edtUsername->Text(), "J\xFCrgen");  // kept as the file's bytes
    EXPECT_EQ(prefs->edtPassword->Text(), "p\xE9ss");

    prefs->SaveSettings(ini);
    EXPECT_EQ(ReadIni(), ansiFile);

    // The login posts the bytes, percent-encoded, as the Windows program does.
    prefs->edtBaseURL->SetText(base);
    QTimer::singleShot(0, [this] { Load(); });
    form->FormPaint();
    ASSERT_EQ(view->navigations.size(), 1u);
    EXPECT_EQ(view->navigations[0].url,
              base + "index.php?mobile=1&username_or_email=J%FCrgen&goto=time_log.php%3fsmallbtn=1");
    EXPECT_EQ(view->navigations[0].postData, "pw=p%E9ss");
}

TEST_F(SettingsText, Utf8StaysUtf8AndTypedTextIsStoredAsUtf8)
{
    WriteIni("[Prefs]\nUsername=J\xC3\xBCrgen\nPassword=c\xE9\x66\x66\n");
    prefs->LoadSettings(ini);
    EXPECT_EQ(prefs->edtUsername->text(), QString::fromUtf8("J\xC3\xBCrgen"));
    EXPECT_EQ(prefs->edtUsername->Text(), "J\xC3\xBCrgen");

    // An edit replaces the bytes with what the user sees, in UTF-8.
    prefs->edtPassword->setText(prefs->edtPassword->text() + "!");
    EXPECT_EQ(prefs->edtPassword->Text(), "p\xC3\xA9ss!");
    prefs->SaveSettings(ini);
    EXPECT_NE(ReadIni().find("Password=c\xC3\xA9\x66\x66!\n"), std::string::npos);
    EXPECT_NE(ReadIni().find("Username=J\xC3\xBCrgen\n"), std::string::npos);
}

TEST_F(SettingsText, OversizedFileIsRefusedAndNeverOverwritten)
{
    std::string big = "[Prefs]\nUsername=ann\n; " + std::string(2 * 1024 * 1024, 'x') + "\n";
    WriteIni(big);
    form->show();  // loads the settings
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    const std::string& said = sim.messageBox.shown[0].text;
    EXPECT_NE(said.find(ini), std::string::npos);
    EXPECT_NE(said.find(std::to_string(big.size()) + " bytes"), std::string::npos);
    EXPECT_EQ(prefs->edtUsername->Text(), "");  // defaults, not the file's values

    // The exit says so again; a No keeps the window, a Yes leaves the file alone.
    sim.messageBox.answers = {IDNO, IDYES};
    form->Exit1Click();
    EXPECT_FALSE(form->Closed());
    ASSERT_EQ(sim.messageBox.shown.size(), 2u);
    EXPECT_NE(sim.messageBox.shown[1].text.find("The settings could not be saved (Unable to write to " + ini),
              std::string::npos);
    form->Exit1Click();
    EXPECT_TRUE(form->Closed());
    EXPECT_EQ(ReadIni(), big);
}

}  // namespace
