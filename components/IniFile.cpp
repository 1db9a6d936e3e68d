#include "components/IniFile.h"

#include "components/Exceptions.h"
#include "platform/PrivateProfile.h"

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
    return platform::ParseProfileInteger(ReadString(section, key, ""), value) ? value : def;
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
