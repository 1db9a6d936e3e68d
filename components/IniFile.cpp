#include "components/IniFile.h"

#include <cstdint>

#include "components/Exceptions.h"
#include "platform/PrivateProfile.h"

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseInteger(const std::string& s, int& out)
{
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        std::uint64_t v = 0;
        for (std::size_t i = 2; i < s.size(); ++i) {
            const int d = HexDigit(s[i]);
            if (d < 0) return false;
            v = v * 16 + static_cast<unsigned>(d);
            if (v > 0xFFFFFFFFu) return false;
        }
        out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        return true;
    }
    std::size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) i = 1;
    if (i == s.size()) return false;
    const std::int64_t limit = negative ? std::int64_t{INT32_MAX} + 1 : INT32_MAX;
    std::int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > limit) return false;
    }
    out = static_cast<int>(negative ? -v : v);
    return true;
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
