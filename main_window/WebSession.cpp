#include "main_window/WebSession.h"

#include <QUrl>
#include <cctype>
#include <cstdio>

std::string EncodeCredential(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) && c < 128) {
            out += static_cast<char>(c);
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string JsStringLiteral(const std::string& text)
{
    std::string out = "'";
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '<': out += "\\x3C"; break;  // never "</script>"
        case '>': out += "\\x3E"; break;
        case '&': out += "\\x26"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);  // UTF-8 passes as it is
            }
        }
    }
    // U+2028 and U+2029 end a line inside a literal in older engines.
    for (std::size_t p; (p = out.find("\xE2\x80\xA8")) != std::string::npos;) out.replace(p, 3, "\\u2028");
    for (std::size_t p; (p = out.find("\xE2\x80\xA9")) != std::string::npos;) out.replace(p, 3, "\\u2029");
    return out + "'";
}

namespace {
void AppendUtf8(std::string& out, unsigned long cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
}  // namespace

std::string DecodeHtmlText(const std::string& text)
{
    static const std::pair<const char*, char> named[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        bool done = false;
        for (auto [entity, ch] : named) {
            if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                out += ch;
                i += std::char_traits<char>::length(entity);
                done = true;
                break;
            }
        }
        if (done) continue;
        if (text.compare(i, 2, "&#") == 0) {
            std::size_t j = i + 2;
            unsigned long cp = 0;
            while (j < text.size() && j < i + 10 && std::isdigit(static_cast<unsigned char>(text[j])))
                cp = cp * 10 + static_cast<unsigned long>(text[j++] - '0');
            if (j > i + 2 && j < text.size() && text[j] == ';' && cp > 0 && cp <= 0x10FFFF &&
                !(cp >= 0xD800 && cp <= 0xDFFF)) {
                AppendUtf8(out, cp);
                i = j + 1;
                continue;
            }
        }
        out += text[i++];  // not a reference we know: keep it
    }
    return out;
}

std::string ReplaceAmpersands(const std::string& text, const std::string& with)
{
    std::string out;
    for (char c : text) {
        if (c == '&') out += with;
        else out += c;
    }
    return out;
}

std::string CanonicalUrl(const std::string& url)
{
    const QUrl u(QString::fromStdString(url), QUrl::TolerantMode);
    if (!u.isValid()) return url;
    QUrl c = u;
    if (c.path().isEmpty() && !c.host().isEmpty()) c.setPath("/");
    // Upper-case percent escapes, as the engine reports them.
    QString s = c.toString(QUrl::FullyEncoded);
    for (int i = 0; i + 2 < s.size(); ++i)
        if (s[i] == '%' && s[i + 1].isLetterOrNumber() && s[i + 2].isLetterOrNumber()) {
            s[i + 1] = s[i + 1].toUpper();
            s[i + 2] = s[i + 2].toUpper();
        }
    return s.toStdString();
}

std::string LowerCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
