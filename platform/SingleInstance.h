#pragma once
#include <functional>
#include <string>

// One running program per settings file. The first start claims the file;
// a later start with the same file asks the first to bring its main window
// to the front and ends without touching anything.
class ISingleInstance {
public:
    enum class Claim {
        First,   // this process owns the settings file now
        Raised,  // another process owns it and has been asked to show itself
        Failed,  // another process owns it but could not be reached (see Error)
    };
    virtual ~ISingleInstance() = default;
    // settingsPath: the settings file (it need not exist yet).
    virtual Claim ClaimSettingsFile(const std::string& settingsPath) = 0;
    // Why the last claim failed, for the user.
    virtual std::string Error() const = 0;

    // In the owning process: a later start asked for the main window.
    std::function<void()> OnRaise;
};
