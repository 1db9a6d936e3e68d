#pragma once
#include <cstdint>

// Local date-time as days since 1899-12-30 with the time of day as the
// fraction, and a millisecond tick count that wraps at 2^32.
class IClock {
public:
    virtual ~IClock() = default;
    virtual double Now() = 0;
    virtual std::uint32_t GetTickCount() = 0;
};
