#pragma once
// The program's settings as one value, with one table of their keys in the
// settings file and their defaults. The preferences window edits the value;
// everything else reads it when it needs a setting, so a change takes effect
// at once; the file is written from it in one save.
#include <cstdint>
#include <string>
#include <vector>

struct TSettings {
    // [Form]
    int Top = 0;
    int Left = 0;
    bool MinimizeOnClose = false;
    bool UseTransparency = true;
    bool RemoveFromTaskBar = true;
    // [Prefs]
    std::string BaseURL;
    std::string Username;
    std::string Password;  // as typed; the file holds it scrambled, or nothing while the keyring keeps it
    bool PlayTickingSound = false;
    int TickingSoundInterval = 60;
    int HotKeyStartStop = 0;  // a Windows hot-key code: virtual key | modifiers << 8
    bool ShowMinuteReminder = false;
    int MinuteReminderInterval = 20;
    bool AutoStopStartOnIdleTime = false;
    int AutoStopStartOnIdleTimeMinutes = 2;
    bool PasswordInKeyring = false;

    bool operator==(const TSettings&) const = default;

    // The settings of a first run: no settings file yet.
    static TSettings FirstRun();
    // Each key's value where an existing file does not have it.
    static TSettings Missing();
    // Whether these are the settings the session logs in with.
    bool SameServer(const TSettings& other) const
    {
        return BaseURL == other.BaseURL && Username == other.Username && Password == other.Password;
    }
};

// The base URLs of the deployment: the public service, offered at a first
// run, and the one an existing settings file without a base URL means.
std::string PublicBaseURL();
std::string LocalBaseURL();
std::string ServiceWebSite();

// Each letter moves 13 places; everything else, including bytes from 0x80
// up, stays. Its own inverse.
std::string Rot13(const std::string& text);

// One key of the settings file.
struct TSettingKey {
    const char* section;
    const char* name;
};
// Every key, in the order a save writes them.
const std::vector<TSettingKey>& SettingKeys();

// Reads the settings file: each key missing from it takes its value from
// TSettings::Missing(), the hot key excepted, which keeps its value in
// force. Throws Exception for a file larger than a settings file may be (it
// is not parsed); a missing file gives FirstRun().
TSettings ReadSettingsFile(const std::string& path, const TSettings& inForce = TSettings::Missing());

// Writes every key in one replacement of the file, keeping every other line
// of it byte for byte. "PasswordInKeyring" is written only once the keyring
// keeps a password or where the file has the key already, so a file shared
// with the Windows program changes only then. Throws Exception
// "Unable to write to <path>[: reason]".
void WriteSettingsFile(const std::string& path, const TSettings& settings);

// The one value in force for the program (set by the start-up and by the
// preferences window).
TSettings& CurrentSettings();
