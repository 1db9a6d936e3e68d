#include "components/SettingsPath.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kFallbackName = "ChronelGui.ini";

// "from its last '.' on is replaced": only the file name's dots count.
std::string IniName(const std::string& fileName)
{
    const auto dot = fileName.find_last_of('.');
    return (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + ".ini";
}

bool IsWritableFolder(const std::string& dir)
{
    struct stat st {};
    // No write bit means read-only even for the superuser, as the writer sees it.
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0222) != 0 &&
           ::access(dir.c_str(), W_OK | X_OK) == 0;
}

// The system's program folders hold installed programs even where the
// superuser could write into them; settings never go there.
bool IsSystemFolder(const std::string& dir)
{
    return dir == "/usr" || dir.starts_with("/usr/") || dir == "/bin" || dir == "/sbin";
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string UserFolder(const std::string& xdgConfigHome, const std::string& home)
{
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') return xdgConfigHome + "/chronel-timer";
    if (!home.empty() && home.front() == '/') return home + "/.config/chronel-timer";
    return {};
}

}  // namespace

std::string SettingsFilePathFor(const std::string& exePath, const std::string& xdgConfigHome,
                                const std::string& home)
{
    const auto slash = exePath.find_last_of('/');
    const std::string fileName = slash == std::string::npos ? exePath : exePath.substr(slash + 1);
    const std::string user = UserFolder(xdgConfigHome, home);
    if (fileName.empty()) return (user.empty() ? std::string(".") : user) + "/" + kFallbackName;

    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : exePath.substr(0, slash));
    const std::string name = IniName(fileName);
    const std::string beside = exePath.substr(0, exePath.size() - fileName.size()) + name;
    if (Exists(beside) || (IsWritableFolder(dir) && !IsSystemFolder(dir)) || user.empty()) return beside;
    return user + "/" + name;
}

bool EnsureSettingsFolder(const std::string& iniPath)
{
    const auto slash = iniPath.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return true;
    const std::string dir = iniPath.substr(0, slash);
    for (std::size_t pos = 0; pos != std::string::npos;) {
        pos = dir.find('/', pos + 1);
        const std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
std::string& PathOverride()
{
    static std::string path;
    return path;
}
}  // namespace

void SetSettingsFilePathForTests(const std::string& path)
{
    PathOverride() = path;
}

void SetSettingsFileOverride(const std::string& path)
{
    PathOverride() = path;
}

std::string SettingsFilePath()
{
    if (!PathOverride().empty()) return PathOverride();
    std::string exe;
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof buf) {
        exe.assign(buf, static_cast<std::size_t>(n));
        // The kernel marks a replaced or removed binary; the name is what counts.
        constexpr std::string_view deleted = " (deleted)";
        if (exe.size() > deleted.size() && exe.ends_with(deleted)) exe.resize(exe.size() - deleted.size());
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string path = SettingsFilePathFor(exe, xdg ? xdg : "", home ? home : "");
    // A no-op beside the executable; a failure shows as the first save's error.
    EnsureSettingsFolder(path);
    return path;
}
