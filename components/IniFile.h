#pragma once
// The component library's INI file class over the private-profile routines.
// The file is read and parsed once, at the first read, and again only after
// a write of this object; every write goes to the file at once.
#include <optional>
#include <string>

#include "platform/PrivateProfile.h"

class TIniFile {
public:
    explicit TIniFile(const std::string& path);

    // Reads the file now (reads do it when needed). Throws Exception naming
    // the file and its size when it is larger than a settings file may be
    // (kProfileFileMax); such a file is never parsed.
    void Load();

    // At most 2047 bytes; see platform/PrivateProfile.h for the file rules.
    // Throws as Load for a file too large.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def);
    // A value of more than two characters beginning "0x" or "0X" is hexadecimal
    // (up to 0xFFFFFFFF, wrapping into int as the Windows routines do, so
    // 0xFFFFFFFF reads -1); otherwise decimal with an optional sign. A value
    // that is not wholly such an integer within 32 bits yields def.
    int ReadInteger(const std::string& section, const std::string& key, int def);
    // Read as an integer with default 1 or 0; any non-zero value is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def);

    // Each write updates the file at once and throws Exception
    // "Unable to write to <path>" when it cannot, followed by ": <reason>"
    // where there is one the user can act on.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::string path_;
    std::optional<platform::ProfileFile> file_;
};
