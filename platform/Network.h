#pragma once
#include <functional>

// Whether the system can reach the network, as far as it knows.
class INetworkStatus {
public:
    virtual ~INetworkStatus() = default;
    // Raised when the system reports the network reachable again after it
    // was not (at most once per change).
    std::function<void()> OnOnline;
};

// The network status in force (null: the platform cannot tell).
INetworkStatus* CurrentNetworkStatus();
void SetCurrentNetworkStatus(INetworkStatus* status);
