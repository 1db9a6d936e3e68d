#include "session/Settings.h"

#include <variant>

#include "components/Exceptions.h"
#include "platform/PrivateProfile.h"

namespace {
using Member = std::variant<int TSettings::*, bool TSettings::*, std::string TSettings::*>;

// A key, the member that holds it, and its value as the file would spell
// it: at a first run, and where an existing file lacks the key.
struct Field {
    TSettingKey key;
    Member member;
    std::string firstRun;
    std::string missing;
    bool missingKeeps = false;  // where the file lacks it, the value in force stays
};

const std::vector<Field>& Fields()
{
    static const std::vector<Field> fields = {
        {{"Form", "Top"}, &TSettings::Top, "0", "0"},
        {{"Form", "Left"}, &TSettings::Left, "0", "0"},
        {{"Form", "MinimizeOnClose"}, &TSettings::MinimizeOnClose, "0", "0"},
        {{"Form", "UseTransparency"}, &TSettings::UseTransparency, "1", "1"},
        {{"Form", "RemoveFromTaskBar"}, &TSettings::RemoveFromTaskBar, "1", "1"},
        // A first run offers the public service; a file without the key means a local one.
        {{"Prefs", "BaseURL"}, &TSettings::BaseURL, PublicBaseURL(), LocalBaseURL()},
        {{"Prefs", "Username"}, &TSettings::Username, "", ""},
        {{"Prefs", "Password"}, &TSettings::Password, "", ""},
        {{"Prefs", "PlayTickingSound"}, &TSettings::PlayTickingSound, "0", "0"},
        {{"Prefs", "TickingSoundInterval"}, &TSettings::TickingSoundInterval, "60", "60"},
        // Alt+`; a file without the key keeps the key in force.
        {{"Prefs", "HotKeyStartStop"}, &TSettings::HotKeyStartStop, "32960", "32960", true},
        // Reminders are on for a file written before they were offered, off at a first run.
        {{"Prefs", "ShowMinuteReminder"}, &TSettings::ShowMinuteReminder, "0", "1"},
        {{"Prefs", "MinuteReminderInterval"}, &TSettings::MinuteReminderInterval, "20", "20"},
        {{"Prefs", "AutoStopStartOnIdleTime"}, &TSettings::AutoStopStartOnIdleTime, "0", "0"},
        {{"Prefs", "AutoStopStartOnIdleTimeMinutes"}, &TSettings::AutoStopStartOnIdleTimeMinutes, "2", "2"},
        {{"Prefs", "PasswordInKeyring"}, &TSettings::PasswordInKeyring, "0", "0"},
    };
    return fields;
}

bool IsPassword(const Field& f)
{
    return std::holds_alternative<std::string TSettings::*>(f.member) &&
           std::get<std::string TSettings::*>(f.member) == &TSettings::Password;
}

bool IsHotKey(const Field& f)
{
    return std::holds_alternative<int TSettings::*>(f.member) &&
           std::get<int TSettings::*>(f.member) == &TSettings::HotKeyStartStop;
}

// Sets the member from the file's text; a value that is not a number keeps def.
void Assign(TSettings& s, const Field& f, const std::string& text, const std::string& def)
{
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                s.*member = IsPassword(f) ? Rot13(text) : text;
            } else {
                int fallback = 0;
                platform::ParseProfileInteger(def, fallback);
                int value = fallback;
                if (!platform::ParseProfileInteger(text, value)) value = fallback;
                if (IsHotKey(f)) value &= 0xFFFF;
                if constexpr (std::is_same_v<T, bool>) s.*member = value != 0;
                else s.*member = value;
            }
        },
        f.member);
}

std::string Spelled(const TSettings& s, const Field& f)
{
    return std::visit(
        [&](auto member) -> std::string {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) return IsPassword(f) ? Rot13(s.*member) : s.*member;
            else if constexpr (std::is_same_v<T, bool>) return s.*member ? "1" : "0";
            else return std::to_string(s.*member);
        },
        f.member);
}

TSettings FromDefaults(bool firstRun)
{
    TSettings s;
    for (const Field& f : Fields()) {
        const std::string& def = firstRun ? f.firstRun : f.missing;
        Assign(s, f, IsPassword(f) ? Rot13(def) : def, def);
    }
    return s;
}
}  // namespace

std::string PublicBaseURL() { return CHRONEL_SERVICE_BASE_URL; }
std::string LocalBaseURL() { return CHRONEL_LOCAL_BASE_URL; }
std::string ServiceWebSite() { return CHRONEL_SERVICE_WEB_SITE; }

std::string Rot13(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
        else if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    }
    return out;
}

TSettings TSettings::FirstRun()
{
    static const TSettings s = FromDefaults(true);
    return s;
}

TSettings TSettings::Missing()
{
    static const TSettings s = FromDefaults(false);
    return s;
}

const std::vector<TSettingKey>& SettingKeys()
{
    static const std::vector<TSettingKey> keys = [] {
        std::vector<TSettingKey> k;
        for (const Field& f : Fields()) k.push_back(f.key);
        return k;
    }();
    return keys;
}

namespace {
platform::ProfileFile LoadOrThrow(const std::string& path)
{
    platform::ProfileFile file;
    if (file.Load(path) == platform::ProfileStatus::TooLarge)
        throw Exception("The settings file " + path + " has " + std::to_string(file.Size()) +
                        " bytes, more than a settings file may have (" + std::to_string(platform::kProfileFileMax) +
                        "); it is not read and will not be written, so the program runs on its default settings");
    return file;
}

// Not a value any key can have: a key's absence.
const std::string kAbsent = "\n";
}  // namespace

TSettings ReadSettingsFile(const std::string& path, const TSettings& inForce)
{
    const platform::ProfileFile file = LoadOrThrow(path);
    if (file.Status() == platform::ProfileStatus::Missing) return TSettings::FirstRun();
    TSettings s = inForce;
    for (const Field& f : Fields()) {
        const std::string text = file.Get(f.key.section, f.key.name, kAbsent);
        if (text == kAbsent && f.missingKeeps) continue;
        Assign(s, f, text == kAbsent ? (IsPassword(f) ? Rot13(f.missing) : f.missing) : text, f.missing);
    }
    return s;
}

void WriteSettingsFile(const std::string& path, const TSettings& settings)
{
    // A file that cannot be read is not written either; the writer says why.
    platform::ProfileFile file;
    file.Load(path);
    std::vector<platform::ProfileWrite> writes;
    for (const Field& f : Fields()) {
        if (std::holds_alternative<bool TSettings::*>(f.member) &&
            std::get<bool TSettings::*>(f.member) == &TSettings::PasswordInKeyring && !settings.PasswordInKeyring &&
            file.Get(f.key.section, f.key.name, kAbsent) == kAbsent)
            continue;
        writes.push_back({f.key.section, f.key.name, Spelled(settings, f)});
    }
    std::string why;
    if (!platform::WritePrivateProfileStrings(writes, path, &why))
        throw Exception("Unable to write to " + path + (why.empty() ? "" : ": " + why));
}

TSettings& CurrentSettings()
{
    static TSettings settings = TSettings::FirstRun();
    return settings;
}
