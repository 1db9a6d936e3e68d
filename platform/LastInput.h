#pragma once
#include <cstdint>

// Tick count (same scale as IClock::GetTickCount) of the session's last
// keyboard or mouse input.
class ILastInput {
public:
    virtual ~ILastInput() = default;
    virtual bool GetLastInputTick(std::uint32_t& tick) = 0;
};
