#include "main_window/WebSession.h"

#include <QRegularExpression>
#include <QString>
#include <QUrl>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <memory>
#include <cctype>
#include <cstdio>


namespace {
void AppendCodePoint(std::string& out, char32_t cp)
{
    out += QString::fromUcs4(&cp, 1).toStdString();
}

bool IsAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The character a reference starting at text[at] ("&...;") stands for, and
// the reference's length; 0 when it is not a reference with a valid value.
std::size_t ParseReference(const std::string& text, std::size_t at, char32_t& cp)
{
    constexpr std::size_t kLongestName = 32;  // longer names do not exist
    std::size_t j = at + 1;
    if (j < text.size() && text[j] == '#') {
        ++j;
        int base = 10;
        if (j < text.size() && (text[j] == 'x' || text[j] == 'X')) {
            base = 16;
            ++j;
        }
        const std::size_t digits = j;
        unsigned long value = 0;
        while (j < text.size() && j - digits < 8 && std::isxdigit(static_cast<unsigned char>(text[j]))) {
            const char c = text[j];
            if (base == 10 && !std::isdigit(static_cast<unsigned char>(c))) break;
            value = value * static_cast<unsigned long>(base) +
                    static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                          : (c | 0x20) - 'a' + 10);
            ++j;
        }
        if (j == digits || j >= text.size() || text[j] != ';') return 0;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
        cp = static_cast<char32_t>(value);
        return j + 1 - at;
    }
    while (j < text.size() && j - at <= kLongestName && IsAsciiAlnum(text[j])) ++j;
    if (j == at + 1 || j >= text.size() || text[j] != ';') return 0;
    const std::string name = text.substr(at + 1, j - at - 1);
    const htmlEntityDesc* entity = htmlEntityLookup(reinterpret_cast<const xmlChar*>(name.c_str()));
    if (!entity) return 0;
    cp = static_cast<char32_t>(entity->value);
    return j + 1 - at;
}
}  // namespace

std::string DecodeHtmlText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t amp = text.find('&', i);
        if (amp == std::string::npos) {
            out.append(text, i, std::string::npos);
            break;
        }
        out.append(text, i, amp - i);
        char32_t cp = 0;
        if (const std::size_t length = ParseReference(text, amp, cp)) {
            AppendCodePoint(out, cp);
            i = amp + length;
        } else {
            out += '&';  // not a reference: kept as written
            i = amp + 1;
        }
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
    const QString scheme = c.scheme().toLower();
    if ((scheme == "http" && c.port() == 80) || (scheme == "https" && c.port() == 443)) c.setPort(-1);
    // Upper-case percent escapes, as the engine reports them.
    QString s = c.toString(QUrl::FullyEncoded);
    for (int i = 0; i + 2 < s.size(); ++i)
        if (s[i] == '%' && s[i + 1].isLetterOrNumber() && s[i + 2].isLetterOrNumber()) {
            s[i + 1] = s[i + 1].toUpper();
            s[i + 2] = s[i + 2].toUpper();
        }
    return s.toStdString();
}

namespace {
std::string Attribute(xmlNode* node, const char* name, bool* present = nullptr)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (present) *present = value != nullptr;
    if (!value) return {};
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

std::string Content(xmlNode* node)
{
    xmlChar* value = xmlNodeGetContent(node);
    if (!value) return {};
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

bool IsElement(xmlNode* node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

// The script reaches a form as document.<name>: by its name, else its id.
bool IsForm(xmlNode* node, const char* name)
{
    return IsElement(node, "form") && (Attribute(node, "name") == name || Attribute(node, "id") == name);
}

std::string Trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

struct FormFields {
    bool tidFound = false;
    std::string tid;
    std::string button;
};

void ReadFields(xmlNode* node, FormFields& fields)
{
    for (xmlNode* n = node->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (IsElement(n, "input")) {
            const std::string type = LowerCase(Attribute(n, "type"));
            if (Attribute(n, "name") == "tid" && !fields.tidFound) {
                fields.tidFound = true;
                fields.tid = Attribute(n, "value");
            } else if ((type == "submit" || type == "button") && fields.button.empty()) {
                fields.button = Trimmed(Attribute(n, "value"));
            }
        } else if (IsElement(n, "button") && fields.button.empty()) {
            fields.button = Trimmed(Content(n));
        }
        ReadFields(n, fields);
    }
}

void Walk(xmlNode* node, TPageClock& page, FormFields& fields)
{
    for (xmlNode* n = node; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (IsForm(n, "frmLogin")) page.loginForm = true;
        if (IsForm(n, "frmStartStop") && !page.startStopForm) {
            page.startStopForm = true;
            ReadFields(n, fields);
            continue;
        }
        Walk(n->children, page, fields);
    }
}
}  // namespace

TPageClock ReadPageClock(const std::string& html)
{
    TPageClock page;
    if (html.empty()) return page;
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET),
        xmlFreeDoc);
    if (!doc) return page;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root) return page;
    FormFields fields;
    Walk(root, page, fields);
    if (!page.startStopForm) return page;
    const std::string button = LowerCase(fields.button);
    const TClockState byButton = button == "start" ? TClockState::Stopped
                                 : button == "stop" ? TClockState::Running
                                                    : TClockState::Unknown;
    const TClockState byTid = !fields.tidFound ? TClockState::Unknown
                              : fields.tid.empty() ? TClockState::Stopped
                                                   : TClockState::Running;
    if (byTid != TClockState::Unknown && byButton != TClockState::Unknown && byTid != byButton) return page;
    page.state = byTid != TClockState::Unknown ? byTid : byButton;
    if (page.state == TClockState::Running) {
        static const QRegularExpression since(QStringLiteral("\\bsince\\s+(\\d{1,2}:\\d{2}(?::\\d{2})?)\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = since.match(QString::fromStdString(Content(root)));
        if (m.hasMatch()) page.since = m.captured(1).toStdString();
    }
    return page;
}
