// The settings value and its file: the defaults of a first run and of a
// file that lacks a key, and the one save, which must leave exactly the
// bytes that writing the keys one by one would (files move between this
// program and the Windows one), all or nothing.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "TempDir.h"
#include "components/Exceptions.h"
#include "components/IniFile.h"
#include "session/Settings.h"

namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The save as it was made before: one replacement of the file per key.
void SaveKeyByKey(const std::string& path, const TSettings& s)
{
    TIniFile ini(path);
    ini.WriteInteger("Form", "Top", s.Top);
    ini.WriteInteger("Form", "Left", s.Left);
    ini.WriteBool("Form", "MinimizeOnClose", s.MinimizeOnClose);
    ini.WriteBool("Form", "UseTransparency", s.UseTransparency);
    ini.WriteBool("Form", "RemoveFromTaskBar", s.RemoveFromTaskBar);
    ini.WriteString("Prefs", "BaseURL", s.BaseURL);
    ini.WriteString("Prefs", "Username", s.Username);
    ini.WriteString("Prefs", "Password", Rot13(s.Password));
    ini.WriteBool("Prefs", "PlayTickingSound", s.PlayTickingSound);
    ini.WriteInteger("Prefs", "TickingSoundInterval", s.TickingSoundInterval);
    ini.WriteInteger("Prefs", "HotKeyStartStop", s.HotKeyStartStop);
    ini.WriteBool("Prefs", "ShowMinuteReminder", s.ShowMinuteReminder);
    ini.WriteInteger("Prefs", "MinuteReminderInterval", s.MinuteReminderInterval);
    ini.WriteBool("Prefs", "AutoStopStartOnIdleTime", s.AutoStopStartOnIdleTime);
    ini.WriteInteger("Prefs", "AutoStopStartOnIdleTimeMinutes", s.AutoStopStartOnIdleTimeMinutes);
    if (s.PasswordInKeyring || ini.ReadString("Prefs", "PasswordInKeyring", "\n") != "\n")
        ini.WriteBool("Prefs", "PasswordInKeyring", s.PasswordInKeyring);
}

class SettingsValue : public TempDirTest {
protected:
    std::string Path() const { return dir_ + "/ChronelGui.ini"; }
};

TEST_F(SettingsValue, DefaultsOfAFirstRunAndOfAMissingKey)
{
    const TSettings first = TSettings::FirstRun();
    EXPECT_EQ(first.BaseURL, PublicBaseURL());
    EXPECT_FALSE(first.ShowMinuteReminder);
    EXPECT_EQ(first.HotKeyStartStop, 32960);
    EXPECT_EQ(first.TickingSoundInterval, 60);
    EXPECT_EQ(first.MinuteReminderInterval, 20);
    EXPECT_EQ(first.AutoStopStartOnIdleTimeMinutes, 2);
    EXPECT_TRUE(first.UseTransparency);
    EXPECT_TRUE(first.RemoveFromTaskBar);
    // The two differ where they are meant to, and only there.
    TSettings missing = TSettings::Missing();
    EXPECT_EQ(missing.BaseURL, LocalBaseURL());
    EXPECT_TRUE(missing.ShowMinuteReminder);
    missing.BaseURL = first.BaseURL;
    missing.ShowMinuteReminder = first.ShowMinuteReminder;
    EXPECT_EQ(missing, first);

    // No file: a first run. An empty file: every key missing; the hot key keeps the one in force.
    EXPECT_EQ(ReadSettingsFile(Path()), first);
    Write(Path(), "");
    TSettings inForce = TSettings::Missing();
    inForce.HotKeyStartStop = 0x8041;
    TSettings read = ReadSettingsFile(Path(), inForce);
    EXPECT_EQ(read, inForce);
    // Values that are no numbers keep the default; hexadecimal counts.
    Write(Path(), "[Prefs]\nTickingSoundInterval=ten\nMinuteReminderInterval=0x1E\nHotKeyStartStop=0x18041\n"
                  "Password=cj\nUsername=\"ann \"\n");
    read = ReadSettingsFile(Path());
    EXPECT_EQ(read.TickingSoundInterval, 60);
    EXPECT_EQ(read.MinuteReminderInterval, 30);
    EXPECT_EQ(read.HotKeyStartStop, 0x8041);
    EXPECT_EQ(read.Password, "pw");
    EXPECT_EQ(read.Username, "ann ");
    // Too large to be a settings file: refused, not parsed.
    Write(Path(), std::string(2 * 1024 * 1024, 'x'));
    EXPECT_THROW(ReadSettingsFile(Path()), Exception);
}

TEST_F(SettingsValue, OneSaveIsAllOrNothing)
{
    const std::string before = "[Prefs]\r\nPassword=cj\r\n";
    Write(Path(), before);
    ::chmod(Path().c_str(), 0444);
    TSettings s = TSettings::FirstRun();
    s.Password = "";
    s.PasswordInKeyring = true;
    // The file cannot be written: neither the emptied password nor the keyring's mark lands.
    EXPECT_THROW(WriteSettingsFile(Path(), s), Exception);
    EXPECT_EQ(Read(Path()), before);
    ::chmod(Path().c_str(), 0600);
    WriteSettingsFile(Path(), s);
    const TSettings back = ReadSettingsFile(Path());
    EXPECT_EQ(back.Password, "");
    EXPECT_TRUE(back.PasswordInKeyring);
}

TEST_F(SettingsValue, AFileReadAndSavedUnchangedKeepsItsBytes)
{
    // As the Windows program writes it (CR LF, every key), as the keyring
    // leaves it, and an old one with a comment and a key of its own.
    const std::string files[] = {
        "[Form]\r\nTop=10\r\nLeft=20\r\nMinimizeOnClose=0\r\nUseTransparency=1\r\nRemoveFromTaskBar=1\r\n"
        "[Prefs]\r\nBaseURL=http://127.0.0.1:8080/\r\nUsername=ann\r\nPassword=cj\r\nPlayTickingSound=0\r\n"
        "TickingSoundInterval=60\r\nHotKeyStartStop=32960\r\nShowMinuteReminder=0\r\nMinuteReminderInterval=20\r\n"
        "AutoStopStartOnIdleTime=0\r\nAutoStopStartOnIdleTimeMinutes=2\r\n",
        "[Form]\nTop=0\nLeft=0\nMinimizeOnClose=1\nUseTransparency=0\nRemoveFromTaskBar=0\n[Prefs]\n"
        "BaseURL=https://worklog.example.org/\nUsername=J\xfcrgen\nPassword=\nPlayTickingSound=1\n"
        "TickingSoundInterval=0\nHotKeyStartStop=0\nShowMinuteReminder=1\nMinuteReminderInterval=5\n"
        "AutoStopStartOnIdleTime=1\nAutoStopStartOnIdleTimeMinutes=9\nPasswordInKeyring=1\n",
        "; kept\r\n[Form]\r\nTop=-3\r\nLeft=7\r\nMinimizeOnClose=0\r\nUseTransparency=1\r\nRemoveFromTaskBar=1\r\n"
        "Extra=yes\r\n[Prefs]\r\nBaseURL=\" spaced \"\r\nUsername=ann\r\nPassword=cj\r\nPlayTickingSound=0\r\n"
        "TickingSoundInterval=60\r\nHotKeyStartStop=49217\r\nShowMinuteReminder=0\r\nMinuteReminderInterval=20\r\n"
        "AutoStopStartOnIdleTime=0\r\nAutoStopStartOnIdleTimeMinutes=2\r\nPasswordInKeyring=0\r\n",
    };
    for (const std::string& file : files) {
        Write(Path(), file);
        WriteSettingsFile(Path(), ReadSettingsFile(Path()));
        EXPECT_EQ(Read(Path()), file);
    }
}

// Files of the shapes users have: the Windows program's (CR LF, all keys),
// older ones lacking keys, comments and other sections, keys in other case.
rc::Gen<std::string> GenFile()
{
    const std::vector<std::string> lines = {
        "[Form]", "[Prefs]", "[Other]", "; a comment", "", "Top=10", "left=-4", "MinimizeOnClose=1",
        "BaseURL=http://127.0.0.1:8080/", "Username = ann ", "Password=cj", "HotKeyStartStop=0x8041",
        "ShowMinuteReminder=0", "PasswordInKeyring=0", "PasswordInKeyring=1", "Unknown=kept", "junk line",
        "TickingSoundInterval=\"30\"", "AutoStopStartOnIdleTimeMinutes=9"};
    return rc::gen::map(
        rc::gen::pair(rc::gen::container<std::vector<std::string>>(rc::gen::elementOf(lines)),
                      rc::gen::elementOf(std::vector<std::string>{"\r\n", "\n", "\r"})),
        [](const std::pair<std::vector<std::string>, std::string>& p) {
            std::string text;
            for (const std::string& l : p.first) text += l + p.second;
            return text;
        });
}

RC_GTEST_FIXTURE_PROP(SettingsValue, OneSaveWritesTheBytesOfTheKeyByKeySave, ())
{
    const std::string file = *GenFile();
    TSettings s;
    s.Top = *rc::gen::inRange(-50, 50);
    s.MinimizeOnClose = *rc::gen::arbitrary<bool>();
    s.BaseURL = *rc::gen::elementOf(std::vector<std::string>{"http://127.0.0.1:8080/", " spaced ", "\"quoted\"", ""});
    s.Username = *rc::gen::elementOf(std::vector<std::string>{"ann", "J\xfcrgen", "a=b"});
    s.Password = *rc::gen::elementOf(std::vector<std::string>{"", "pw", "p\xe9ss"});
    s.HotKeyStartStop = *rc::gen::inRange(0, 0x10000);
    s.PasswordInKeyring = *rc::gen::arbitrary<bool>();
    s.TickingSoundInterval = *rc::gen::inRange(-1, 700);

    Write(Path(), file);
    SaveKeyByKey(Path(), s);
    const std::string expected = Read(Path());
    Write(Path(), file);
    WriteSettingsFile(Path(), s);
    RC_ASSERT(Read(Path()) == expected);
    // And what was saved reads back as it was.
    TSettings back = ReadSettingsFile(Path());
    back.PasswordInKeyring = s.PasswordInKeyring;
    RC_ASSERT(back.Password == s.Password);
    RC_ASSERT(back.HotKeyStartStop == s.HotKeyStartStop);
    RC_ASSERT(back.TickingSoundInterval == s.TickingSoundInterval);
}

}  // namespace
