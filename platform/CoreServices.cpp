#include "platform/CoreServices.h"

#include <stdexcept>

namespace {
IClock* const* g_clock = nullptr;
IMessageWindows* const* g_windows = nullptr;
}  // namespace

IClock* CoreClock()
{
    if (!g_clock) throw std::logic_error("no platform installed");
    return *g_clock;
}

IMessageWindows* CoreWindows()
{
    if (!g_windows) throw std::logic_error("no platform installed");
    return *g_windows;
}

void SetCoreServices(IClock* const* clock, IMessageWindows* const* windows)
{
    g_clock = clock;
    g_windows = windows;
}
