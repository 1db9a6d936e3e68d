#pragma once
// The component library's INI file class over the private-profile routines.
// Every call goes to the file; nothing is cached.
#include <string>

class TIniFile {
public:
    explicit TIniFile(const std::string& path);

    // At most 2047 bytes; see platform/PrivateProfile.h for the file rules.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def);
    // A value of more than two characters beginning "0x" or "0X" is hexadecimal
    // (up to 0xFFFFFFFF, wrapping into int as the Windows routines do, so
    // 0xFFFFFFFF reads -1); otherwise decimal with an optional sign. A value
    // that is not wholly such an integer within 32 bits yields def.
    int ReadInteger(const std::string& section, const std::string& key, int def);
    // Read as an integer with default 1 or 0; any non-zero value is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def);

    // Each write updates the file at once and throws Exception
    // "Unable to write to <path>" when it cannot.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::string path_;
};
