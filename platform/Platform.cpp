#include "platform/Platform.h"

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
}
