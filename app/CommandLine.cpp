#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "platform/desktop/DesktopPlatform.h"

#ifndef CHRONEL_VERSION
#define CHRONEL_VERSION "unknown"
#endif

namespace {
// Options the toolkit takes itself (QGuiApplication and QApplication strip
// them later); the session manager restarts programs with -session.
const char* const kToolkitValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                            "display", "name", "style", "stylesheet", "geometry", "qmljsdebugger"};
const char* const kToolkitFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
}  // namespace

std::vector<std::string> ExtraVersionLines(const std::string& settingsFile)
{
    std::vector<std::string> lines = DescribeDesktopServices(settingsFile);
    // The toolkit joins the accessibility bus only at the start.
    lines.push_back("Screen reader: one switched on after the program started sees it only after a restart "
                    "(Exit from the tray menu, then start it again).");
    return lines;
}

std::string VersionText(const std::string& settingsFile)
{
    std::string text = std::string("ChronelGui (Chronel Timer) ") + CHRONEL_VERSION + "\n";
    for (const std::string& line : ExtraVersionLines(settingsFile)) text += line + "\n";
    return text;
}

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Like the toolkit's own options, "-name" is one option, not letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription("Chronel Timer: the work clock of the work-log service, in the tray.");
    // Not the parser's own help option: it also offers a --help-all that
    // would list the toolkit's options, which this text does not.
    const QCommandLineOption help({"h", "help", "?"}, "Displays this help.");
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption settings(
        "settings", "Use <file> as the settings file instead of ChronelGui.ini (created on first run).", "file");
    const QCommandLineOption hidden("hidden", "Start with the main window hidden in the tray (logs in all the same).");
    parser.addOption(settings);
    parser.addOption(hidden);
    for (const char* name : kToolkitValueOptions) {
        QCommandLineOption option(name, "toolkit option", "value");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kToolkitFlags) {
        QCommandLineOption option(name, "toolkit option");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLine result;
    result.usage = parser.helpText().toStdString();
    if (!parser.parse(arguments)) {
        result.action = CommandLine::Action::Error;
        result.error = parser.errorText().toStdString();
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Error;
        result.error = "Unexpected argument '" + parser.positionalArguments().first().toStdString() + "'.";
        return result;
    }
    result.hidden = parser.isSet(hidden);
    if (parser.isSet(settings)) {
        const QString file = parser.value(settings);
        const QFileInfo info(file);
        if (file.isEmpty() || info.isDir()) {
            result.action = CommandLine::Action::Error;
            result.error = file.isEmpty() ? "--settings needs a file name."
                                          : "--settings: '" + file.toStdString() + "' is a folder, not a file.";
            return result;
        }
        result.settingsFile = info.absoluteFilePath().toStdString();
    }
    return result;
}
