#include "platform/PrivateProfile.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r";

struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\n", "\r\n", "\r", or "" for a last line without one
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
    // A line ends at LF, CR LF, or a CR alone (old-style files).
    while (!content.empty()) {
        const auto end = content.find_first_of("\r\n");
        Line line;
        if (end == std::string_view::npos) {
            line.text = content;
            content = {};
        } else {
            line.text = content.substr(0, end);
            const bool crlf = content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
            line.eol = crlf ? "\r\n" : std::string(1, content[end]);
            content.remove_prefix(end + line.eol.size());
        }
        prof.lines.push_back(std::move(line));
    }
    prof.newline = DefaultNewline();
    for (const Line& l : prof.lines) {
        if (!l.eol.empty()) {
            // Lines added to an old-style file get the Windows line end.
            prof.newline = l.eol == "\r" ? "\r\n" : l.eol;
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

// Reads a regular file of at most kProfileFileMax bytes.
ProfileStatus ReadWhole(const std::string& path, std::string& out, std::uint64_t& size)
{
    out.clear();
    size = 0;
    // Non-blocking open so that a FIFO at the path cannot hang us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ProfileStatus::Missing : ProfileStatus::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ProfileStatus::Unreadable;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    if (size > kProfileFileMax) {
        ::close(fd);
        return ProfileStatus::TooLarge;
    }
    ProfileStatus status = ProfileStatus::Ok;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (out.size() > kProfileFileMax) {  // grew while we read it
                size = out.size();
                status = ProfileStatus::TooLarge;
                break;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            status = ProfileStatus::Unreadable;
            break;
        }
    }
    ::close(fd);
    if (status != ProfileStatus::Ok) out.clear();
    return status;
}

bool WriteAllAt(int fd, std::string_view data, off_t offset)
{
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
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

// Temporary names beside the target: "." + name + "." + six letters or digits.
constexpr std::size_t kTempSuffix = 6;
std::string TempPrefix(const std::string& target)
{
    return "." + BaseName(target).substr(0, 200) + ".";
}

bool IsTempName(std::string_view name, std::string_view prefix)
{
    if (name.size() != prefix.size() + kTempSuffix || name.substr(0, prefix.size()) != prefix) return false;
    for (char c : name.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::string RandomSuffix()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 gen{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 61);
    std::string s;
    for (std::size_t i = 0; i < kTempSuffix; ++i) s += kChars[pick(gen)];
    return s;
}

bool FillTemp(int fd, const std::string& data, mode_t mode, const struct stat* old)
{
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        // Best effort: only the superuser may hand the file back to its owner.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
        }
    }
    return ::fchmod(fd, mode) == 0 && WriteAllAt(fd, data, 0) && ::fsync(fd) == 0;
}

// Writes data into a new file in dir and returns its name there. The data
// goes into an unnamed file first, which a killed process cannot leave
// behind; only a complete, synced file gets a name. Systems without unnamed
// files get a named one from the start.
bool WriteTemp(const std::string& target, const std::string& dir, const std::string& data, mode_t mode,
               const struct stat* old, std::string& tmp)
{
    const std::string prefix = dir + "/" + TempPrefix(target);
    const int ufd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (ufd >= 0) {
        bool ok = FillTemp(ufd, data, mode, old);
        bool named = false;
        if (ok) {
            const std::string self = "/proc/self/fd/" + std::to_string(ufd);
            for (int tries = 0; tries < 100 && !named; ++tries) {
                tmp = prefix + RandomSuffix();
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tmp.c_str(), AT_SYMLINK_FOLLOW) == 0) named = true;
                else if (errno != EEXIST) break;
            }
        }
        ok = (::close(ufd) == 0) && ok;
        if (named && ok) return true;
        if (named) ::unlink(tmp.c_str());
        if (!ok) return false;
        // No /proc to name the file by: fall through to a named file.
    }
    tmp = prefix + "XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = FillTemp(fd, data, mode, old);
    ok = (::close(fd) == 0) && ok;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

bool ReplaceFile(const std::string& target, const std::string& dir, const std::string& data, mode_t mode,
                 const struct stat* old)
{
    std::string tmp;
    if (!WriteTemp(target, dir, data, mode, old, tmp)) return false;
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        ::unlink(tmp.c_str());
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

// For a file in a folder we may not add to: the file itself is rewritten.
// Not atomic, but it never gets shorter before the new content is all in:
// the new length is reserved first (a full disk or a file-size limit fails
// there, with nothing changed), the content is written over the old, and
// only then is the rest cut off and the whole synced.
bool RewriteInPlace(const std::string& target, const std::string& data, mode_t mode)
{
    struct rlimit limit {};
    // A write past the file-size limit would stop halfway, even over old bytes.
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && data.size() > limit.rlim_cur)
        return false;
    const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const off_t oldSize = st.st_size;
    const off_t newSize = static_cast<off_t>(data.size());
    if (newSize > oldSize) {
        // The C library writes the blocks itself where the file system cannot reserve them.
        const int err = ::posix_fallocate(fd, oldSize, newSize - oldSize);
        if (err != 0) {
            if (::ftruncate(fd, oldSize) != 0) {
                // Only room at the end was added: the old content is whole either way.
            }
            ::close(fd);
            return false;
        }
    }
    if ((st.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) {
        // Best effort: the file may belong to someone else.
    }
    bool ok = WriteAllAt(fd, data, 0) && (newSize >= oldSize || ::ftruncate(fd, newSize) == 0) && ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
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

// A key named "Password" with a value, in any section.
bool HoldsPassword(const Profile& prof)
{
    for (const Line& l : prof.lines) {
        const Parsed p = ParseLine(l.text);
        if (p.kind == Kind::Key && SameName(p.name, "Password") && !Unquoted(p.value).empty()) return true;
    }
    return false;
}

void SetWhy(std::string* why, const std::string& text)
{
    if (why) *why = text;
}

}  // namespace

// ---- ProfileFile ---------------------------------------------------------

ProfileStatus ProfileFile::Load(const std::string& path)
{
    entries_.clear();
    std::string content;
    status_ = ReadWhole(path, content, size_);
    if (status_ != ProfileStatus::Ok) return status_;
    const Profile prof = Split(content);
    std::vector<std::string_view> seen;  // sections met so far
    bool current = false;                // inside the first section of its name
    std::string_view section;
    for (const Line& l : prof.lines) {
        const Parsed p = ParseLine(l.text);
        if (p.kind == Kind::Section) {
            section = p.name;
            current = std::none_of(seen.begin(), seen.end(), [&](std::string_view s) { return SameName(s, p.name); });
            if (current) seen.push_back(p.name);
        } else if (p.kind == Kind::Key && current) {
            entries_.push_back({std::string(section), std::string(p.name), std::string(Unquoted(p.value))});
        }
    }
    return status_;
}

std::string ProfileFile::Get(const std::string& section, const std::string& key, const std::string& def) const
{
    const std::string_view sect = Trim(section);
    const std::string_view name = Trim(key);
    for (const Entry& e : entries_)
        if (SameName(e.section, sect) && SameName(e.key, name)) return Capped(e.value);
    return Capped(def);
}

// ---- the routines ----------------------------------------------------------

bool ParseProfileInteger(const std::string& s, int& out)
{
    // The whole text, and nothing but, as a number in the given base.
    auto whole = [](std::string_view text, auto& value, int base) {
        if (text.empty()) return false;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
        return ec == std::errc() && end == text.data() + text.size();
    };
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        // Digits only (no sign), up to 32 bits, wrapping into int.
        const std::string_view digits = std::string_view(s).substr(2);
        std::uint32_t v = 0;
        if (digits.front() == '-' || digits.front() == '+' || !whole(digits, v, 16)) return false;
        out = static_cast<std::int32_t>(v);
        return true;
    }
    std::string_view text = s;
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    return whole(text, out, 10);
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path)
{
    ProfileFile file;
    file.Load(path);
    return file.Get(section, key, def);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path, std::string* why)
{
    return WritePrivateProfileStrings({{section, key, value}}, path, why);
}

bool WritePrivateProfileStrings(const std::vector<ProfileWrite>& writes, const std::string& path, std::string* why)
{
    SetWhy(why, "");
    for (const ProfileWrite& w : writes)
        if (!ValidSection(Trim(w.section)) || !ValidKey(Trim(w.key))) return false;
    if (path.empty()) return false;
    // A link is followed so that the file it names is the one updated,
    // rather than the link being replaced by a plain file.
    std::string target = path;
    struct stat st {};
    bool exists = false;
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char* real = ::realpath(path.c_str(), nullptr);
            if (!real) {
                char link[4096];
                const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
                const std::string to = n > 0 ? std::string(link, static_cast<std::size_t>(n)) : "?";
                SetWhy(why, "it is a symbolic link to " + to + ", which does not exist");
                return false;
            }
            target = real;
            std::free(real);
            if (::stat(target.c_str(), &st) != 0) return false;
        }
        if (!S_ISREG(st.st_mode)) return false;
        exists = true;
    } else if (errno != ENOENT) {
        return false;
    }
    if (exists && static_cast<std::uint64_t>(st.st_size) > kProfileFileMax) {
        SetWhy(why, "the file has " + std::to_string(st.st_size) + " bytes, more than a settings file may have (" +
                        std::to_string(kProfileFileMax) + "); it is left as it is");
        return false;
    }
    if (exists && !Writable(target, st, W_OK)) return false;

    const std::string dir = DirName(target);
    struct stat dst {};
    if (::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return false;
    const bool dirWritable = Writable(dir, dst, W_OK | X_OK);
    if (!dirWritable && !exists) return false;

    std::string content;
    if (exists) {
        std::uint64_t size = 0;
        if (ReadWhole(target, content, size) != ProfileStatus::Ok) return false;
    }
    Profile prof = Split(content);

    auto apply = [&prof](const ProfileWrite& w) {
        const std::string_view sect = Trim(w.section);
        const std::string_view name = Trim(w.key);
        Line line{std::string(name) + "=" + Encoded(w.value), prof.newline};
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
    };
    for (const ProfileWrite& w : writes) apply(w);
    mode_t mode = exists ? (st.st_mode & 07777) : 0600;
    // The scrambled password is for the owner's eyes only.
    if (HoldsPassword(prof)) mode &= ~mode_t{077};
    const std::string data = Join(prof);
    if (dirWritable) {
        RemoveStaleProfileTemps(target);
        return ReplaceFile(target, dir, data, mode, exists ? &st : nullptr);
    }
    return RewriteInPlace(target, data, mode);
}

void RemoveStaleProfileTemps(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    const std::string target = real ? real : path;
    std::free(real);
    const std::string dir = DirName(target);
    const std::string prefix = TempPrefix(target);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> stale;
    while (const dirent* e = ::readdir(d))
        if (IsTempName(e->d_name, prefix)) stale.push_back(e->d_name);
    ::closedir(d);
    for (const std::string& name : stale) {
        const std::string p = dir + "/" + name;
        struct stat st {};
        if (::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) ::unlink(p.c_str());
    }
}

}  // namespace platform
