// The engines' module: its entries, and the program's services it calls
// back into (the module has no copy of the program's platform).
#include "platform/desktop/engine/EngineModule.h"

#include "platform/TraceMarks.h"
#include "platform/desktop/engine/WebEngineBrowser.h"

#define CHRONEL_ENTRY extern "C" __attribute__((visibility("default")))

namespace {
EngineHost host;

bool Accept(const EngineHost* from)
{
    if (!from || from->abi != kEngineAbi || !from->currentPlatform) return false;
    host = *from;
    return true;
}
}  // namespace

Platform& CurrentPlatform()
{
    return host.currentPlatform();
}

void TraceMark(const char* name)
{
    if (host.traceMark) host.traceMark(name);
}

CHRONEL_ENTRY IBrowsers* chronel_browser_engine(const EngineHost* from)
{
    return Accept(from) ? new WebEngineBrowsers : nullptr;
}

CHRONEL_ENTRY ISoundPlayers* chronel_sound_engine(const EngineHost* from)
{
    return Accept(from) ? CreateQtSoundPlayers().release() : nullptr;
}
