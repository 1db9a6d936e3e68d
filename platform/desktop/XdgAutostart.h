#pragma once
// Start with the desktop session the freedesktop way: an entry
// <prefix>-<digest>.desktop in $XDG_CONFIG_HOME/autostart, one for each
// program and settings file. An entry counts as this instance's only when
// its command starts this program with this settings file: entries of other
// copies or other settings files are neither shown nor touched.
#include <string>
#include <vector>

#include "platform/Autostart.h"

class XdgAutostart : public IAutostart {
public:
    // prefix: the desktop id that entries' names start with (also the icon);
    // configHome: the user's configuration folder; configDirs: the system's
    // (an entry there that is this instance's is hidden, not left to start);
    // command: what the entry runs, this program first.
    XdgAutostart(std::string prefix, std::string configHome, std::vector<std::string> configDirs,
                 std::vector<std::string> command);
    // Folders from $XDG_CONFIG_HOME, $HOME and $XDG_CONFIG_DIRS.
    static XdgAutostart FromEnvironment(std::string prefix, std::vector<std::string> command);

    bool Enabled() override;
    bool SetEnabled(bool enabled) override;
    std::string Error() const override { return error_; }

    // Where this instance's own entry is written.
    std::string EntryPath() const;
    // Arguments quoted and escaped for an Exec key.
    static std::string ExecLine(const std::vector<std::string>& command);
    // The arguments of an Exec key's value, quoting and escapes undone and
    // field codes dropped; empty when the quoting is broken.
    static std::vector<std::string> ExecWords(const std::string& value);

private:
    struct Entry {
        bool ours = false;    // starts this program with this settings file
        bool active = false;  // not hidden nor switched off
    };
    Entry Read(const std::string& path) const;
    // The names of entries with our prefix, in the user's folder or the system's.
    std::vector<std::string> Names() const;
    // The file the session reads for a name: the user's, else the first system one.
    std::string SystemEntry(const std::string& name) const;
    std::string Effective(const std::string& name) const;
    bool Write(const std::string& path, const std::string& text);

    std::string prefix_, configHome_;
    std::vector<std::string> configDirs_;
    std::vector<std::string> command_;
    std::string identity_;  // the program's file and the settings file's key
    std::string error_;
};

// The command an autostart entry runs: the program by its name when that
// name on the PATH finds this very program (an installed one), else by its
// absolute path; then --hidden, and --settings when a file was named.
std::vector<std::string> AutostartCommand(const std::string& exePath, const std::string& foundOnPath,
                                          const std::string& settingsFile);
