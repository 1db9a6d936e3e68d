#pragma once
// Where the settings file lives: the executable's path with its extension
// replaced by ".ini", as on Windows. When that file is absent and the
// executable's folder is not writable or is one of the system's program
// folders (an installed program, also when run by the superuser), the file
// goes to $XDG_CONFIG_HOME/chronel-timer/ (default ~/.config/chronel-timer/).
#include <string>

// The settings file of the running executable. Creates the per-user folder
// when that is the one chosen, so the first save can create the file.
std::string SettingsFilePath();

// The choice itself. An empty or relative xdgConfigHome is ignored; with
// neither it nor home usable the file stays beside the executable. Without an
// executable path the name is "ChronelGui.ini" in the per-user folder.
std::string SettingsFilePathFor(const std::string& exePath, const std::string& xdgConfigHome,
                                const std::string& home);

// Creates the folder holding iniPath, and missing parents, private to the
// user (0700). True when the folder exists afterwards.
bool EnsureSettingsFolder(const std::string& iniPath);

// Tests point the program at a file of their own (empty: the real rule).
void SetSettingsFilePathForTests(const std::string& path);

// The file named on the command line (--settings), an absolute path.
void SetSettingsFileOverride(const std::string& path);
