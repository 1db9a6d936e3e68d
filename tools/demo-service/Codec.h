// Text codecs of the demo work-log service: form/query decoding, HTML and
// JSON escaping. Byte strings in, byte strings out; no sockets involved.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace chronel::demo {

// What a "+" means when a form field or query value is decoded. Browsers
// write a blank as "+"; the desktop client writes it as "%20" and leaves a
// "+" of the user's text unchanged.
enum class Plus { Literal, Blank };

// "%XX" (either hex case) becomes the byte XX; a "%" not followed by two hex
// digits stays as it is.
std::string percentDecode(std::string_view text, Plus plus);

// A form body or query split at "&" and at the first "=" of each part, still
// encoded. A part without "=" is a name with an empty value; empty parts are
// skipped.
using RawFields = std::vector<std::pair<std::string_view, std::string_view>>;
RawFields splitFields(std::string_view text);

// The decoded value of the first field whose decoded name is `name`.
std::optional<std::string> findField(const RawFields& fields, std::string_view name, Plus plus);

// For text and double-quoted attribute values: & < > " become references.
std::string htmlEscape(std::string_view text);

// A JSON string literal (with quotes) holding the bytes one character each:
// bytes from 0x80 become \u0080..\u00ff, so the original bytes are recovered
// exactly by taking every character's code as a byte.
std::string jsonBytes(std::string_view bytes);

// A JSON string literal for UTF-8 text; bytes that do not form valid UTF-8
// become U+FFFD.
std::string jsonText(std::string_view utf8);

bool isValidUtf8(std::string_view text);

// ASCII-only letter case folding, for names that compare case-insensitively.
std::string asciiLower(std::string_view text);

}  // namespace chronel::demo
