#include "session/ServiceUrls.h"

#include <cctype>
#include <cstdio>

namespace {
bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The value of a query parameter; false when the query has none of that name.
bool QueryValue(const std::string& url, const std::string& name, std::string& value)
{
    const std::size_t query = url.find('?');
    if (query == std::string::npos) return false;
    std::size_t at = query + 1;
    const std::size_t end = url.find('#', at);
    const std::string q = url.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::size_t from = 0;
    while (from <= q.size()) {
        std::size_t amp = q.find('&', from);
        if (amp == std::string::npos) amp = q.size();
        const std::string part = q.substr(from, amp - from);
        if (StartsWith(part, name + "=")) {
            value = part.substr(name.size() + 1);
            return true;
        }
        from = amp + 1;
    }
    return false;
}
}  // namespace

std::string EncodeCredential(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) && c < 0x80) out += static_cast<char>(c);
        else if (c == '-' || c == '.' || c == '_' || c == '~') out += static_cast<char>(c);
        else {
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

std::string LowerCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

TServiceUrls::TServiceUrls(std::string baseUrl, Canonical canonical)
    : base_(std::move(baseUrl)), canonical_(std::move(canonical))
{
    timerPage_ = canonical_(base_ + "time_log.php");
    indexPage_ = canonical_(base_ + "index.php");
}

std::string TServiceUrls::Login(const std::string& user) const
{
    return base_ + "index.php?mobile=1&username_or_email=" + EncodeCredential(user) + "&goto=time_log.php%3fsmallbtn=1";
}

std::string TServiceUrls::LoginPost(const std::string& password)
{
    return "pw=" + EncodeCredential(password);
}

std::string TServiceUrls::TimerPage() const
{
    return base_ + "time_log.php?smallbtn=1";
}

TServicePage TServiceUrls::Classify(const std::string& url) const
{
    const std::string c = canonical_(url);
    if (StartsWith(c, timerPage_) && (c.size() == timerPage_.size() || c[timerPage_.size()] == '?')) {
        std::string tid;
        if (!QueryValue(c, "tid", tid)) return TServicePage::TimerPage;
        return tid.empty() ? TServicePage::Start : TServicePage::Stop;
    }
    // The service's login page, however it is reached: the login address,
    // the bare page, or a redirect to it that says where to go after the login.
    if (StartsWith(c, indexPage_) && (c.size() == indexPage_.size() || c[indexPage_.size()] == '?'))
        return TServicePage::LoginPage;
    return TServicePage::Other;
}

const char* TServiceUrls::ToggleScript()
{
    return "if (document.frmStartStop){ document.frmStartStop.submit(); }else{ alert('You must be logged in and on the "
           "timer page before this works'); }";
}

std::string TServiceUrls::FillLoginScript(const std::string& password)
{
    return "if (document && document.frmLogin && document.frmLogin.password){ document.frmLogin.password.value = " +
           JsStringLiteral(password) + "; document.frmLogin.submit(); }";
}

const char* TServiceUrls::FocusPasswordScript()
{
    return "if (document.frmLogin && document.frmLogin.password){ document.frmLogin.password.focus(); }";
}
