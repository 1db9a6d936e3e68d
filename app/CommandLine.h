#pragma once
// The program's command line, parsed by the toolkit's parser.
#include <QStringList>
#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool hidden = false;       // --hidden: start in the tray
    std::string settingsFile;  // --settings FILE, made absolute; empty: the usual file
    std::string error;         // what was wrong (Action::Error)
    std::string usage;         // the help text
};

// arguments: as the program received them, the program itself first.
CommandLine ParseCommandLine(const QStringList& arguments);

// "--version": the program's name and version, one line, then the lines of
// ExtraVersionLines().
std::string VersionText(const std::string& settingsFile = {});

// Further lines for --version: the place where start-up choices (window
// system, idle source, hot-key service) report themselves.
std::vector<std::string> ExtraVersionLines(const std::string& settingsFile = {});
