#pragma once
// The platform services that the toolkit-free session core uses: the clock
// and the message windows' timers, as the platform in force has them.
#include "platform/Clock.h"
#include "platform/MessageWindows.h"

// Null until a platform is installed (SetCurrentPlatform), or when it has none.
IClock* CoreClock();
IMessageWindows* CoreWindows();
// Points the core at a platform's fields, so that a later change of them holds.
void SetCoreServices(IClock* const* clock, IMessageWindows* const* windows);
