#pragma once
#include <string>

// Read-only look-up of a key under HKEY_LOCAL_MACHINE; never creates it.
class IRegistry {
public:
    virtual ~IRegistry() = default;
    virtual bool CanOpenLocalMachineKey(const std::string& subKey) = 0;
};
