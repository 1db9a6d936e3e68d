#include "platform/desktop/DesktopPlatform.h"

// Not yet available on this desktop.
std::unique_ptr<IHotKeys> CreateDesktopHotKeys(IMessageWindows&)
{
    return nullptr;
}
