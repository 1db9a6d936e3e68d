// Chronel Timer: the program entry.
#include <QApplication>
#include <QSessionManager>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "components/Application.h"
#include "components/ImageList.h"
#include "main_window/ChronelUnit.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11.h"
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
}  // namespace

int main(int argc, char** argv)
{
    if (!DisplayAvailable()) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "ChronelGui: no graphical display available (DISPLAY is %s). "
                     "Start it inside a desktop session or under Xvfb.\n",
                     display && *display ? display : "not set");
        return 2;
    }
    QApplication qtApp(argc, argv);
    // The program ends when the main window closes, not with its last window.
    qtApp.setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("chronel-timer");
    // Docks and Wayland compositors match the window to the installed desktop entry.
    QGuiApplication::setDesktopFileName("chronel-timer");
    QApplication::setWindowIcon(ApplicationIcon());
    DesktopPlatform desktop;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TfrmPrefs> prefs;
    try {
        Application().SetTitle("Chronel Timer");
        form = std::make_unique<TForm1>();
        prefs = std::make_unique<TfrmPrefs>(form.get(), form.get());
        frmPrefs = prefs.get();
        desktop.AttachMainWindow(form.get());
        QObject::connect(&qtApp, &QGuiApplication::commitDataRequest, [&](QSessionManager& manager) {
            bool mayEnd = true;
            Application().Guard([&] { mayEnd = form->QueryEndSession(); });
            if (!mayEnd) manager.cancel();
        });
        form->show();
        qtApp.exec();
    } catch (...) {
        Application().HandleException(std::current_exception());
    }
    frmPrefs = nullptr;
    prefs.reset();
    form.reset();
    return 0;
}
