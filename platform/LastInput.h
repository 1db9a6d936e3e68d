#pragma once
#include <cstdint>
#include <string>

// Tick count (same scale as IClock::GetTickCount) of the session's last
// keyboard or mouse input.
class ILastInput {
public:
    // The oldest reading a source still gives as the current idle time: an
    // older one may miss input since, so it decides nothing.
    static constexpr std::uint32_t kFreshMs = 2000;
    // Failed readings in a row after which the idle time counts as unknown.
    static constexpr int kFailuresBeforeUnknown = 5;

    virtual ~ILastInput() = default;
    // False while no reading at most kFreshMs old is at hand: the first
    // question after a pause, a late answer, or a source that fails.
    virtual bool GetLastInputTick(std::uint32_t& tick) = 0;
    // The idle time is not known: the source has failed kFailuresBeforeUnknown
    // times in a row (or there is none). It keeps trying and clears this itself.
    virtual bool Failing() const { return false; }
    // Where the idle time comes from, for the user; empty when unnamed.
    virtual std::string Describe() const { return {}; }
};
