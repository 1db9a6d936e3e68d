#include "components/IniFile.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "components/Exceptions.h"
#include "platform/PrivateProfile.h"

namespace {

// The whole text, and nothing but, as a number in the given base.
template <class T>
bool Whole(std::string_view text, T& out, int base)
{
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseInteger(const std::string& s, int& out)
{
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        // Digits only (no sign), up to 32 bits, wrapping into int.
        const std::string_view digits = std::string_view(s).substr(2);
        std::uint32_t v = 0;
        if (digits.front() == '-' || digits.front() == '+' || !Whole(digits, v, 16)) return false;
        out = static_cast<std::int32_t>(v);
        return true;
    }
    std::string_view text = s;
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    return Whole(text, out, 10);
}

}  // namespace

TIniFile::TIniFile(const std::string& path) : path_(path) {}

void TIniFile::Load()
{
    if (!file_) {
        file_.emplace();
        file_->Load(path_);
    }
    if (file_->Status() == platform::ProfileStatus::TooLarge)
        throw Exception("The settings file " + path_ + " has " + std::to_string(file_->Size()) +
                        " bytes, more than a settings file may have (" + std::to_string(platform::kProfileFileMax) +
                        "); it is not read and will not be written, so the program runs on its default settings");
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def)
{
    Load();
    return file_->Get(section, key, def);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def)
{
    int value = def;
    return ParseInteger(ReadString(section, key, ""), value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def)
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    file_.reset();
    std::string why;
    if (!platform::WritePrivateProfileString(section, key, value, path_, &why))
        throw Exception("Unable to write to " + path_ + (why.empty() ? "" : ": " + why));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}
