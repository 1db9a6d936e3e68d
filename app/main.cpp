// Chronel Timer: the program entry.
#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "components/Application.h"
#include "components/ImageList.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11.h"

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
        std::fprintf(stderr, "ChronelGui: no graphical display available (DISPLAY is %s). "
                             "Start it inside a desktop session or under Xvfb.\n",
                     std::getenv("DISPLAY") && *std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "not set");
        return 2;
    }
    QApplication qtApp(argc, argv);
    qtApp.setQuitOnLastWindowClosed(false);
    DesktopPlatform desktop;
    try {
        Application().SetTitle("Chronel Timer");
        QApplication::setWindowIcon(ApplicationIcon());
        QWidget window(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                                    Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        window.setWindowTitle("Chronel Timer");
        window.resize(132, 176);
        desktop.AttachMainWindow(&window);
        QObject::connect(&qtApp, &QApplication::lastWindowClosed, &qtApp, &QApplication::quit);
        window.show();
        qtApp.setQuitOnLastWindowClosed(true);
        qtApp.exec();
    } catch (...) {
        Application().HandleException(std::current_exception());
    }
    return 0;
}
