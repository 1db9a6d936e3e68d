#include "tools/demo-service/Codec.h"

#include <cstdio>

namespace chronel::demo {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUnicodeEscape(std::string& out, unsigned code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", code);
  out += buf;
}

// Escapes shared by both JSON writers; false when `c` needs other treatment.
bool appendAsciiJson(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out += "\\\""; return true;
    case '\\': out += "\\\\"; return true;
    case '\n': out += "\\n"; return true;
    case '\r': out += "\\r"; return true;
    case '\t': out += "\\t"; return true;
    default: break;
  }
  if (c < 0x20 || c == 0x7f) {
    appendUnicodeEscape(out, c);
    return true;
  }
  if (c < 0x80) {
    out += static_cast<char>(c);
    return true;
  }
  return false;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0.
size_t utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  size_t len;
  unsigned minCode;
  unsigned code;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xe0) == 0xc0) { len = 2; minCode = 0x80; code = b0 & 0x1f; }
  else if ((b0 & 0xf0) == 0xe0) { len = 3; minCode = 0x800; code = b0 & 0x0f; }
  else if ((b0 & 0xf8) == 0xf0) { len = 4; minCode = 0x10000; code = b0 & 0x07; }
  else return 0;
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3f);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are invalid.
  if (code < minCode || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return len;
}

}  // namespace

std::string percentDecode(std::string_view text, Plus plus) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int hi = hexValue(text[i + 1]);
      const int lo = hexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += (c == '+' && plus == Plus::Blank) ? ' ' : c;
  }
  return out;
}

RawFields splitFields(std::string_view text) {
  RawFields fields;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('&', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(pos, end - pos);
    if (!part.empty()) {
      const size_t eq = part.find('=');
      if (eq == std::string_view::npos)
        fields.emplace_back(part, std::string_view{});
      else
        fields.emplace_back(part.substr(0, eq), part.substr(eq + 1));
    }
    pos = end + 1;
  }
  return fields;
}

std::optional<std::string> findField(const RawFields& fields, std::string_view name, Plus plus) {
  for (const auto& [rawName, rawValue] : fields)
    if (percentDecode(rawName, plus) == name) return percentDecode(rawValue, plus);
  return std::nullopt;
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string jsonBytes(std::string_view bytes) {
  std::string out = "\"";
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (!appendAsciiJson(out, c)) appendUnicodeEscape(out, c);
  }
  out += '"';
  return out;
}

std::string jsonText(std::string_view utf8) {
  std::string out = "\"";
  size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (appendAsciiJson(out, c)) {
      ++i;
      continue;
    }
    const size_t len = utf8SequenceLength(utf8, i);
    if (len == 0) {
      out += "\\ufffd";
      ++i;
    } else {
      out.append(utf8.substr(i, len));
      i += len;
    }
  }
  out += '"';
  return out;
}

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t len = utf8SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace chronel::demo
