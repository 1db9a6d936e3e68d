// Chronel Timer: the program entry.
#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/CommandLine.h"
#include "components/Application.h"
#include "components/ImageList.h"
#include "components/SettingsPath.h"
#include "main_window/ChronelUnit.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/DesktopSession.h"
#include "platform/desktop/DesktopSingleInstance.h"
#include "platform/desktop/XdgAutostart.h"
#include "platform/desktop/x11/X11.h"
#include "platform/TraceMarks.h"
#include "prefs/frmPrefsUnit.h"

namespace {
// The toolkit aborts without a display; say so plainly instead.
bool DisplayAvailable()
{
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa && std::strncmp(qpa, "xcb", 3) != 0) return true;
    const char* display = std::getenv("DISPLAY");
    if (display && *display && x11::CanOpenDisplay(display)) return true;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland && *wayland && !(qpa && std::strncmp(qpa, "xcb", 3) == 0);
}

// The desktop entry's id, shared with the installed menu entry.
const char* const kDesktopId = "chronel-timer";

// The engine builds a page's accessibility tree on Linux only with this
// switch; with it, the tree is built only while an assistive technology
// uses the program, so it costs nothing otherwise. A value the user set stays.
void OfferPagesToAssistiveTechnology()
{
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
}

// The application's name is what the tray's StatusNotifierItem shows as its
// Title (and its Id), so it is the one people read. The display name is left
// unset: on X11 and Wayland the toolkit would append it to every window's
// caption. X11's window class, which docks match against the desktop entry's
// StartupWMClass, is taken from the application's name once, at the first
// window: one is made before the name changes. Folders are named explicitly.
void NameTheApplication()
{
    QApplication::setApplicationName(kDesktopId);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        QWindow classed;
        classed.create();
    }
    QApplication::setApplicationName(QStringLiteral("Chronel Timer"));
}

// Ends the preferences while they are whole: hidden first, so the focus
// leaves their fields (and the fields' exit handlers run) now, not inside
// the window's destruction. The hot key's handler would register a key for a
// program that is ending: dropped.
void EndPreferences(std::unique_ptr<TfrmPrefs>& prefs)
{
    if (prefs) {
        prefs->hotkeyStartStop->OnExit = nullptr;
        Application().Guard([&prefs] { prefs->hide(); });
    }
    frmPrefs = nullptr;
    prefs.reset();
}
}  // namespace

int main(int argc, char** argv)
{
    // Help, version and mistakes need no display.
    CommandLine command;
    {
        QCoreApplication parsing(argc, argv);
        command = ParseCommandLine(QCoreApplication::arguments());
    }
    switch (command.action) {
    case CommandLine::Action::Help:
        std::fputs(command.usage.c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        // The hot key the desktop holds for the settings file named, or this program's own.
        if (!command.settingsFile.empty()) SetSettingsFileOverride(command.settingsFile);
        std::fputs(VersionText(SettingsFilePath()).c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "ChronelGui: %s\n\n%s", command.error.c_str(), command.usage.c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    ChooseWindowSystem();
    if (!DisplayAvailable()) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "ChronelGui: no graphical display available (DISPLAY is %s). "
                     "Start it inside a desktop session or under Xvfb.\n",
                     display && *display ? display : "not set");
        return 2;
    }
    TraceMark("main");
    OfferPagesToAssistiveTechnology();
    // A file-size limit then fails a write with an error the save reports,
    // rather than ending the program with the settings unsaved.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication qtApp(argc, argv);
    WindowSystemStarted();
    TraceMark("qapp");
    // The program ends when the main window closes, not with its last window.
    qtApp.setQuitOnLastWindowClosed(false);
    // Docks and Wayland compositors match the window to the installed desktop entry.
    QGuiApplication::setDesktopFileName(kDesktopId);
    NameTheApplication();
    if (!command.settingsFile.empty()) SetSettingsFileOverride(command.settingsFile);

    // A second start with the same settings file shows the first (a start
    // into the tray leaves it as it is) and ends here: no window, no tray
    // icon, no hot key, no write. One during the first's exit runs after it.
    DesktopSingleInstance instance;
    switch (instance.ClaimSettingsFile(SettingsFilePath(), !command.hidden)) {
    case ISingleInstance::Claim::First: break;
    case ISingleInstance::Claim::Running: return 0;
    case ISingleInstance::Claim::Failed:
        std::fprintf(stderr, "ChronelGui: %s.\n", instance.Error().c_str());
        return 1;
    }

    QApplication::setWindowIcon(ApplicationIcon());
    DesktopPlatform desktop;
    TraceMark("platform");
    DesktopSession session;
    session.CountSleepAsIdle(desktop.platform);
    XdgAutostart autostart = XdgAutostart::FromEnvironment(
        kDesktopId, AutostartCommand(QCoreApplication::applicationFilePath().toStdString(),
                                     QStandardPaths::findExecutable("ChronelGui").toStdString(),
                                     command.settingsFile));
    desktop.platform.Instance = &instance;
    desktop.platform.Session = &session;
    desktop.platform.Autostart = &autostart;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TfrmPrefs> prefs;
    int exitCode = 0;
    try {
        Application().SetTitle("Chronel Timer");
        form = std::make_unique<TForm1>();
        TraceMark("form");
        prefs = std::make_unique<TfrmPrefs>(form.get(), form.get());
        frmPrefs = prefs.get();
        desktop.AttachMainWindow(form.get());
        if (command.hidden) form->StartHidden();
        else form->show();
        TraceMark("shown");
        exitCode = qtApp.exec();
    } catch (...) {
        Application().HandleException(std::current_exception());
    }
    EndPreferences(prefs);
    form.reset();
    return exitCode;
}
