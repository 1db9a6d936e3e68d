#pragma once
// Private-profile (INI) file routines, kept to the rules the Windows program
// relies on, so that settings files move between the two unchanged.
//
// File form: "[Section]" lines open sections; "key=value" lines belong to the
// section above them. A line ends at LF, CR LF or a CR alone. Section and key names compare case-insensitively
// (ASCII). Every other line (comments, blank lines, lines before the first
// section, lines that are neither) is ignored on reading and kept byte for
// byte on rewriting, as are a leading UTF-8 BOM and each line's own line end.
//
// Reading: names and values are trimmed of surrounding blanks (space, tab,
// CR); then one pair of matching surrounding quotes (" or ') is removed from
// the value. The first section of a name is the one used, and within it the
// first line of a key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Longest text the profile reader returns, in bytes.
inline constexpr std::size_t kProfileStringMax = 2047;

// Largest settings file read or written, in bytes: a larger one is no
// settings file of ours, and is neither parsed nor replaced.
inline constexpr std::size_t kProfileFileMax = 1024 * 1024;

enum class ProfileStatus { Ok, Missing, TooLarge, Unreadable };

// A profile file read and parsed once, for many reads.
class ProfileFile {
public:
    ProfileStatus Load(const std::string& path);
    ProfileStatus Status() const { return status_; }
    // Size of the file in bytes as found by the last Load.
    std::uint64_t Size() const { return size_; }
    // As GetPrivateProfileString, on the loaded content (def when not Ok).
    std::string Get(const std::string& section, const std::string& key, const std::string& def) const;

private:
    struct Entry {
        std::string section, key, value;
    };
    std::vector<Entry> entries_;  // keys of each name's first section, in file order
    ProfileStatus status_ = ProfileStatus::Missing;
    std::uint64_t size_ = 0;
};

// Value of key in section of the file at path, or def when the file, the
// section or the key is missing. The result, value or default, ends at a NUL
// byte and is cut to kProfileStringMax bytes (a little less when the cut
// would split a UTF-8 sequence).
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path);

// Sets key in section to value and returns true, or returns false and leaves
// the file as it was. A key not yet present goes after the last non-blank line
// of its section; a section not yet present goes at the end of the file; an
// existing key's line is replaced where it stands.
//
// The value ends at a NUL byte and its line breaks become spaces (one value,
// one line). A value that reading would change (surrounding blanks or
// quotes) is written in double quotes, which reading removes again.
//
// The file is replaced whole (its data goes into an unnamed file in the
// target's folder, synced, then named and renamed over), so a failure or a
// kill never leaves it half written nor a copy of it behind. When the folder
// may not be added to but the file may be written, the file is rewritten in
// place instead: its new length reserved, the content written over, the rest
// cut off, all synced, so a full disk or a file-size limit leaves the old
// content whole. (A file-size limit ends the process unless it ignores
// SIGXFSZ.) A link is followed and its target written; a dangling link
// fails. A new file gets mode 0600; a rewritten one keeps its mode and,
// where permitted, its owner, except that group and others lose all access
// once the file holds a non-empty "Password" key. Fails for a file without
// any write permission bit or a new file in a folder without one, even for
// the superuser, for a file over kProfileFileMax, and for names that cannot
// be read back (empty, line breaks, "=" in a key or "[" at its start, "]" in
// a section). why, when given, receives a reason for the failures a user can
// act on (else empty).
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path, std::string* why = nullptr);

struct ProfileWrite {
    std::string section, key, value;
};

// As WritePrivateProfileString for several keys, in order, with one
// replacement of the file: all of them are written or none.
bool WritePrivateProfileStrings(const std::vector<ProfileWrite>& writes, const std::string& path,
                                std::string* why = nullptr);

// An integer as the profile routines read one: more than two characters
// beginning "0x" or "0X" are hexadecimal (up to 0xFFFFFFFF, wrapping into
// int, so 0xFFFFFFFF reads -1); otherwise decimal with an optional sign.
// False (out unchanged) unless the whole text is such an integer within 32 bits.
bool ParseProfileInteger(const std::string& text, int& out);

// Removes temporary files of the writer's own pattern beside the settings
// file (".<name>.XXXXXX", owned by us), left by a save that was killed
// between naming its file and renaming it. Run at start-up and before each
// replacement.
void RemoveStaleProfileTemps(const std::string& path);

}  // namespace platform
