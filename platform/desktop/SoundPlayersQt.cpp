#include "platform/desktop/DesktopPlatform.h"

// Not yet available on this desktop.
std::unique_ptr<ISoundPlayers> CreateDesktopSoundPlayers()
{
    return nullptr;
}
