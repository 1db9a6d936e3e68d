#pragma once
#include <string>

// Starting the program with the user's desktop session. The entry itself is
// the setting: it is not kept in the settings file.
class IAutostart {
public:
    virtual ~IAutostart() = default;
    virtual bool Enabled() = 0;
    // Writes or removes the entry; false with Error() set when that failed.
    virtual bool SetEnabled(bool enabled) = 0;
    virtual std::string Error() const = 0;
};
