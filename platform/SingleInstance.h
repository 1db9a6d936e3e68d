#pragma once
#include <functional>
#include <string>

// One running program per settings file. The first start claims the file;
// a later start with the same file asks the first to bring its main window
// to the front and ends without touching anything. A first instance on its
// way out refuses: the later start waits for it to end, then runs.
class ISingleInstance {
public:
    enum class Claim {
        First,    // this process owns the settings file now
        Running,  // another process owns it and runs on (and was asked to show itself, when so wanted)
        Failed,   // another process owns it but could not be reached, or did not end (see Error)
    };
    virtual ~ISingleInstance() = default;
    // settingsPath: the settings file (it need not exist yet). show: ask the
    // owner for its main window; false (a start into the tray) only asks
    // whether it runs on.
    virtual Claim ClaimSettingsFile(const std::string& settingsPath, bool show) = 0;
    // Why the last claim failed, for the user.
    virtual std::string Error() const = 0;

    // In the owning process: a later start asked for the main window.
    std::function<void()> OnRaise;
    // In the owning process: true once it is on its way out, so that a later
    // start waits for it instead of being answered by it.
    std::function<bool()> Closing;
};
