#include "platform/Platform.h"

#include "platform/CoreServices.h"

#include <stdexcept>

namespace {
Platform* g_platform = nullptr;
}

Platform& CurrentPlatform()
{
    if (!g_platform) throw std::logic_error("no platform installed");
    return *g_platform;
}

void SetCurrentPlatform(Platform* platform)
{
    g_platform = platform;
    if (platform) SetCoreServices(&platform->Clock, &platform->Windows);
    else SetCoreServices(nullptr, nullptr);
}

bool WindowOffers(WindowBehaviour behaviour)
{
    return !g_platform || !g_platform->WindowSystem || g_platform->WindowSystem->Offers(behaviour);
}

std::string DescribePlatformServices(const Platform& platform)
{
    auto line = [](const char* name, std::string text) {
        return std::string(name) + ": " + (text.empty() ? "unknown" : text) + "\n";
    };
    return line("Window system", platform.WindowSystem ? platform.WindowSystem->Describe() : std::string()) +
           line("Idle time", platform.LastInput ? platform.LastInput->Describe() : "not available") +
           line("Global hot key", platform.HotKeys ? platform.HotKeys->Describe() : "not available");
}
