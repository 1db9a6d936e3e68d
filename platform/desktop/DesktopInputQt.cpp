#include "platform/desktop/DesktopPlatform.h"

// Not yet available on this desktop.
std::unique_ptr<IDesktopInput> CreateDesktopInput()
{
    return nullptr;
}
