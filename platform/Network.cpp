#include "platform/Network.h"

namespace {
INetworkStatus* current = nullptr;
}

INetworkStatus* CurrentNetworkStatus()
{
    return current;
}

void SetCurrentNetworkStatus(INetworkStatus* status)
{
    current = status;
}
