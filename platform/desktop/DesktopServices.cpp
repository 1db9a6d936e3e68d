// What the program would use on this session, for --version: made the way
// the program makes its choices, without a window.
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/idle/IdleSources.h"
#include "platform/desktop/x11/X11.h"

namespace {
std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The toolkit platform the program would start on; empty when none would.
std::string PlatformToStart()
{
    const std::string chosen = Env("QT_QPA_PLATFORM");
    const std::string name = chosen.substr(0, chosen.find(':'));
    if (name.empty() || name == "xcb") {
        if (!Env("DISPLAY").empty() && x11::CanOpenDisplay(nullptr)) return "xcb";
        if (!name.empty()) return {};
        return Env("WAYLAND_DISPLAY").empty() ? std::string() : "wayland";
    }
    return name;
}

class DescribedWindowSystem : public IWindowSystem {
public:
    explicit DescribedWindowSystem(std::string platform) : platform_(std::move(platform)) {}
    bool Offers(WindowBehaviour) const override { return true; }
    std::string Describe() const override
    {
        if (platform_.empty()) return "none (no display)";
        return DesktopWindowSystem::DescribePlatform(platform_);
    }

private:
    std::string platform_;
};
}  // namespace

std::vector<std::string> DescribeDesktopServices(const std::string& settingsFile)
{
    ChooseWindowSystem();
    const std::string platform = PlatformToStart();
    static char program[] = "ChronelGui";
    static char platformOption[] = "-platform";
    static char xcb[] = "xcb";
    int argc = 1;
    char* argv[] = {program, nullptr, nullptr, nullptr};
    std::unique_ptr<QCoreApplication> app;
    // The X11 services need the toolkit's X connection; the others only the
    // session bus and connections of their own.
    if (platform == "xcb") {
        argv[argc++] = platformOption;
        argv[argc++] = xcb;
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    DesktopClock clock;
    DesktopMessageWindows windows;
    DescribedWindowSystem windowSystem(platform);
    std::unique_ptr<ILastInput> lastInput = ChooseDesktopLastInput(clock);
    std::unique_ptr<IKeyboardLayout> keyboard = CreateDesktopKeyboardLayout();
    std::unique_ptr<IHotKeys> hotKeys = CreateDesktopHotKeys(windows, keyboard.get());
    if (hotKeys && !settingsFile.empty()) hotKeys->SetSettingsFile(settingsFile);
    Platform described;
    described.WindowSystem = &windowSystem;
    described.LastInput = lastInput.get();
    described.HotKeys = hotKeys.get();
    std::vector<std::string> lines;
    const std::string text = DescribePlatformServices(described);
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}
