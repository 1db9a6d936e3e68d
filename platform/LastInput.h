#pragma once
#include <cstdint>
#include <string>

// Tick count (same scale as IClock::GetTickCount) of the session's last
// keyboard or mouse input.
class ILastInput {
public:
    virtual ~ILastInput() = default;
    virtual bool GetLastInputTick(std::uint32_t& tick) = 0;
    // Where the idle time comes from, for the user; empty when unnamed.
    virtual std::string Describe() const { return {}; }
};
