#pragma once
// Start with the desktop session the freedesktop way: an entry
// <id>.desktop in $XDG_CONFIG_HOME/autostart.
#include <string>
#include <vector>

#include "platform/Autostart.h"

class XdgAutostart : public IAutostart {
public:
    // configHome: the user's configuration folder; configDirs: the
    // system's (searched for an entry of the same id that must be hidden).
    XdgAutostart(std::string id, std::string configHome, std::vector<std::string> configDirs,
                 std::vector<std::string> command);
    // Folders from $XDG_CONFIG_HOME, $HOME and $XDG_CONFIG_DIRS.
    static XdgAutostart FromEnvironment(std::string id, std::vector<std::string> command);

    bool Enabled() override;
    bool SetEnabled(bool enabled) override;
    std::string Error() const override { return error_; }

    std::string EntryPath() const;
    // Arguments quoted and escaped for an Exec key.
    static std::string ExecLine(const std::vector<std::string>& command);

private:
    std::string SystemEntry() const;

    std::string id_, configHome_;
    std::vector<std::string> configDirs_;
    std::vector<std::string> command_;
    std::string error_;
};

// The command an autostart entry runs: the program by its name when that
// name on the PATH finds this very program (an installed one), else by its
// absolute path; then --hidden, and --settings when a file was named.
std::vector<std::string> AutostartCommand(const std::string& exePath, const std::string& foundOnPath,
                                          const std::string& settingsFile);
