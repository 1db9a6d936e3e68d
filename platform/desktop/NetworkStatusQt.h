#pragma once
// The system's network reachability through the toolkit's network
// information backends (NetworkManager, ...); without a backend it stays silent.
#include <memory>

#include "platform/Network.h"

std::unique_ptr<INetworkStatus> CreateDesktopNetworkStatus();
