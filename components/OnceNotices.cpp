#include "components/OnceNotices.h"

#include <cstdlib>
#include <fstream>

namespace {
// One line per key: line breaks in a key would split it.
std::string Line(std::string key)
{
    for (char& c : key)
        if (c == '\n' || c == '\r') c = ' ';
    return key;
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
}  // namespace

OnceNotices::OnceNotices(const std::string& settingsPath)
{
    const std::size_t slash = settingsPath.rfind('/');
    const std::size_t dot = settingsPath.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    path_ = (extension ? settingsPath.substr(0, dot) : settingsPath) + ".notices";
}

bool OnceNotices::Given(const std::string& key) const
{
    std::ifstream in(path_, std::ios::binary);
    const std::string wanted = Line(key);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == wanted) return true;
    }
    return false;
}

bool OnceNotices::First(const std::string& key)
{
    if (Given(key)) return false;
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out << Line(key) << '\n';
    out.flush();
    return true;  // also when the list could not be written
}

std::string OnceNotices::Desktop()
{
    for (const char* name : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP"})
        if (std::string value = Env(name); !value.empty()) return value;
    if (!Env("WAYLAND_DISPLAY").empty()) return "Wayland";
    if (!Env("DISPLAY").empty()) return "X11";
    return "none";
}
