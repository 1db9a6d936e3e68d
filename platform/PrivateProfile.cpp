#include "platform/PrivateProfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r";

struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\n", "\r\n", or "" for a last line without one
};

struct Profile {
    std::string bom;
    std::vector<Line> lines;
    std::string newline;  // line end for lines we add
};

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key lines: trimmed, quotes not yet removed
};

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b)
{
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

Parsed ParseLine(std::string_view text)
{
    Parsed p;
    const std::string_view t = Trim(text);
    if (t.empty()) return p;
    if (t.front() == '[') {
        const auto close = t.find(']');
        if (close != std::string_view::npos) {
            p.kind = Kind::Section;
            p.name = Trim(t.substr(1, close - 1));
        }
        return p;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return p;
    p.name = Trim(t.substr(0, eq));
    if (p.name.empty()) return p;
    p.kind = Kind::Key;
    p.value = Trim(t.substr(eq + 1));
    return p;
}

const char* DefaultNewline()
{
#ifdef _WIN32
    return "\r\n";
#else
    return "\n";
#endif
}

Profile Split(std::string_view content)
{
    Profile prof;
    if (content.substr(0, kBom.size()) == kBom) {
        prof.bom = kBom;
        content.remove_prefix(kBom.size());
    }
    while (!content.empty()) {
        const auto nl = content.find('\n');
        Line line;
        if (nl == std::string_view::npos) {
            line.text = content;
            content = {};
        } else {
            std::string_view text = content.substr(0, nl);
            if (!text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = text;
            content.remove_prefix(nl + 1);
        }
        prof.lines.push_back(std::move(line));
    }
    prof.newline = DefaultNewline();
    for (const Line& l : prof.lines) {
        if (!l.eol.empty()) {
            prof.newline = l.eol;
            break;
        }
    }
    return prof;
}

std::string Join(const Profile& prof)
{
    std::string out = prof.bom;
    for (const Line& l : prof.lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

// Index of the first header of section, or lines.size().
std::size_t FindSection(const Profile& prof, std::string_view section)
{
    for (std::size_t i = 0; i < prof.lines.size(); ++i) {
        const Parsed p = ParseLine(prof.lines[i].text);
        if (p.kind == Kind::Section && SameName(p.name, section)) return i;
    }
    return prof.lines.size();
}

// One past the last line of the section whose header is at index header.
std::size_t SectionEnd(const Profile& prof, std::size_t header)
{
    std::size_t i = header + 1;
    while (i < prof.lines.size() && ParseLine(prof.lines[i].text).kind != Kind::Section) ++i;
    return i;
}

std::string Capped(std::string s)
{
    const auto nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    if (s.size() > kProfileStringMax) {
        std::size_t cut = kProfileStringMax;
        // Step back over a UTF-8 sequence the cut would split: at most three
        // continuation bytes, and only when a lead byte starts them.
        std::size_t back = cut;
        while (back > 0 && cut - back < 3 && (static_cast<unsigned char>(s[back]) & 0xC0) == 0x80) --back;
        if (back < cut && (static_cast<unsigned char>(s[back]) & 0xC0) == 0xC0) cut = back;
        s.resize(cut);
    }
    return s;
}

std::string_view Unquoted(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

bool ReadWhole(const std::string& path, std::string& out)
{
    // Non-blocking open so that a FIFO at the path cannot hang us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    out.clear();
    char buf[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writable for us and not marked read-only by its mode: the superuser passes
// every access() test, but a file or folder without any write bit is meant
// to stay unchanged.
bool Writable(const std::string& path, const struct stat& st, int how)
{
    return (st.st_mode & 0222) != 0 && ::access(path.c_str(), how) == 0;
}

bool ReplaceFile(const std::string& target, const std::string& dir, const std::string& data,
                 mode_t mode, const struct stat* old)
{
    std::string tmpl = dir + "/." + BaseName(target).substr(0, 200) + ".XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        // Best effort: only the superuser may hand the file back to its owner.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
        }
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmpl.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // Make the rename itself durable; the data is already safe either way.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool ValidSection(std::string_view s)
{
    return !s.empty() && s.find_first_of(std::string_view("\r\n\0]", 4)) == std::string_view::npos;
}

bool ValidKey(std::string_view k)
{
    return !k.empty() && k.front() != '[' &&
           k.find_first_of(std::string_view("\r\n\0=", 4)) == std::string_view::npos;
}

std::string Encoded(std::string value)
{
    const auto nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
    std::replace(value.begin(), value.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    if (!value.empty() && (Trim(value).size() != value.size() || Unquoted(value).size() != value.size()))
        return '"' + value + '"';
    return value;
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path)
{
    std::string content;
    if (!ReadWhole(path, content)) return Capped(def);
    const Profile prof = Split(content);
    const std::string_view sect = Trim(section);
    const std::string_view name = Trim(key);
    const std::size_t header = FindSection(prof, sect);
    if (header == prof.lines.size()) return Capped(def);
    const std::size_t end = SectionEnd(prof, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const Parsed p = ParseLine(prof.lines[i].text);
        if (p.kind == Kind::Key && SameName(p.name, name)) return Capped(std::string(Unquoted(p.value)));
    }
    return Capped(def);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path)
{
    const std::string_view sect = Trim(section);
    const std::string_view name = Trim(key);
    if (!ValidSection(sect) || !ValidKey(name) || path.empty()) return false;

    // A link is followed so that the file it names is the one updated,
    // rather than the link being replaced by a plain file.
    std::string target = path;
    struct stat st {};
    bool exists = false;
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char* real = ::realpath(path.c_str(), nullptr);
            if (!real) return false;
            target = real;
            std::free(real);
            if (::stat(target.c_str(), &st) != 0) return false;
        }
        if (!S_ISREG(st.st_mode)) return false;
        exists = true;
    } else if (errno != ENOENT) {
        return false;
    }
    if (exists && !Writable(target, st, W_OK)) return false;

    const std::string dir = DirName(target);
    struct stat dst {};
    if (::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode) || !Writable(dir, dst, W_OK | X_OK))
        return false;

    std::string content;
    if (exists && !ReadWhole(target, content)) return false;
    Profile prof = Split(content);

    Line line{std::string(name) + "=" + Encoded(value), prof.newline};
    const std::size_t header = FindSection(prof, sect);
    if (header == prof.lines.size()) {
        if (!prof.lines.empty() && prof.lines.back().eol.empty()) prof.lines.back().eol = prof.newline;
        prof.lines.push_back({"[" + std::string(sect) + "]", prof.newline});
        prof.lines.push_back(std::move(line));
    } else {
        const std::size_t end = SectionEnd(prof, header);
        std::size_t found = end;
        std::size_t lastFilled = header;
        for (std::size_t i = header + 1; i < end; ++i) {
            const Parsed p = ParseLine(prof.lines[i].text);
            if (p.kind == Kind::Key && SameName(p.name, name)) {
                found = i;
                break;
            }
            if (!Trim(prof.lines[i].text).empty()) lastFilled = i;
        }
        if (found != end) {
            prof.lines[found].text = std::move(line.text);
        } else {
            Line& before = prof.lines[lastFilled];
            if (before.eol.empty()) before.eol = prof.newline;
            prof.lines.insert(prof.lines.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), std::move(line));
        }
    }
    return ReplaceFile(target, dir, Join(prof), exists ? (st.st_mode & 07777) : 0600, exists ? &st : nullptr);
}

}  // namespace platform
