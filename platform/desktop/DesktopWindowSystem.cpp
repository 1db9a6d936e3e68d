#include <QGuiApplication>
#include <QQuickWindow>
#include <cstdlib>

#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11.h"

namespace {
bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}
}  // namespace

void ChooseWindowSystem()
{
    // Always-on-top, the stored position, the taskbar hint and transparency
    // need an X11 window; the compositor's X server gives one. A platform
    // the user chose stays.
    if (Set("WAYLAND_DISPLAY") && Set("DISPLAY") && !Set("QT_QPA_PLATFORM") && x11::CanOpenDisplay(nullptr))
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The window and its small page are painted in software: no graphics
    // driver is loaded into the program (tens of megabytes, and start-up
    // time), and the engine's view joins the shown window as a plain
    // widget, so the window is not made anew for a graphics surface. A
    // scene graph the user chose stays.
    if (Set("QT_QUICK_BACKEND")) return;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    if (!Set("QT_XCB_GL_INTEGRATION")) setenv("QT_XCB_GL_INTEGRATION", "none", 1);
}

bool DesktopWindowSystem::Offers(WindowBehaviour behaviour) const
{
    if (QGuiApplication::platformName() != QLatin1String("wayland")) return true;
    // A Wayland client cannot place, stack, fade or hide its own window
    // from the taskbar; activation the toolkit asks of the compositor.
    return behaviour == WindowBehaviour::Activation;
}

std::string DesktopWindowSystem::Describe() const
{
    return DescribePlatform(QGuiApplication::platformName().toStdString());
}

std::string DesktopWindowSystem::DescribePlatform(const std::string& platform)
{
    if (platform == "xcb") return Set("WAYLAND_DISPLAY") ? "X11 (the Wayland compositor's X server)" : "X11";
    if (platform == "wayland") return "Wayland";
    return platform;
}
