#pragma once
// Private-profile (INI) file routines, kept to the rules the Windows program
// relies on, so that settings files move between the two unchanged.
//
// File form: "[Section]" lines open sections; "key=value" lines belong to the
// section above them. Section and key names compare case-insensitively
// (ASCII). Every other line (comments, blank lines, lines before the first
// section, lines that are neither) is ignored on reading and kept byte for
// byte on rewriting, as are a leading UTF-8 BOM and each line's own line end.
//
// Reading: names and values are trimmed of surrounding blanks (space, tab,
// CR); then one pair of matching surrounding quotes (" or ') is removed from
// the value. The first section of a name is the one used, and within it the
// first line of a key.
#include <cstddef>
#include <string>

namespace platform {

// Longest text the profile reader returns, in bytes.
inline constexpr std::size_t kProfileStringMax = 2047;

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
// The file is replaced whole (temporary file beside it, synced, renamed over),
// so a failure never leaves it half written. A new file gets mode 0600 (it
// holds the scrambled password); a rewritten one keeps its mode and, where
// permitted, its owner. Fails for a file without any write permission bit or
// in a folder without one, even for the superuser, and for names that cannot
// be read back (empty, line breaks, "=" in a key or "[" at its start, "]" in
// a section).
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

}  // namespace platform
