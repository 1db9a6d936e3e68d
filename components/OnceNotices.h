#pragma once
// Notices given once per settings file, not at every start: the ones given
// are listed in a small file beside the settings file ("ChronelGui.notices"
// beside "ChronelGui.ini"), one per line, so that the settings file stays as
// the Windows program writes it. A notice's key says what else it is once
// per (the desktop, the key named).
#include <string>

class OnceNotices {
public:
    explicit OnceNotices(const std::string& settingsPath);
    // Where the list is kept.
    const std::string& Path() const { return path_; }
    // Whether the notice was given already.
    bool Given(const std::string& key) const;
    // True when the notice is to be given now, and lists it as given. A list
    // that cannot be written gives the notice every time: told again rather
    // than never.
    bool First(const std::string& key);

    // The desktop the program runs on, for keys that are once per desktop:
    // the session's desktop names, else the window system.
    static std::string Desktop();

private:
    std::string path_;
};
