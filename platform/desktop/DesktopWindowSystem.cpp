#include <QGuiApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11.h"

namespace {
bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// What the program set for the toolkit's start only: the programs it starts
// (a link's browser) get the user's environment.
std::vector<std::string>& SetForStart()
{
    static std::vector<std::string> names;
    return names;
}

void SetForStart(const char* name, const char* value)
{
    if (Set(name)) return;
    setenv(name, value, 1);
    SetForStart().push_back(name);
}
}  // namespace

void ChooseWindowSystem()
{
    // Always-on-top, the stored position, the taskbar hint and transparency
    // need an X11 window; the compositor's X server gives one. A platform
    // the user chose stays.
    if (Set("WAYLAND_DISPLAY") && Set("DISPLAY") && !Set("QT_QPA_PLATFORM") && x11::CanOpenDisplay(nullptr))
        SetForStart("QT_QPA_PLATFORM", "xcb");
    // The program paints small areas now and then (the blinking tray icon,
    // a small window): shared-memory images would cost a round trip to the
    // X server for each, plain requests cost none.
    SetForStart("QT_XCB_NO_MITSHM", "1");
    // The browser engine is loaded after the toolkit's start: it finds the
    // shared graphics context it would have made had it started first.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The window and its small page are painted in software (the engine
    // chooses its scene graph as it loads): no graphics driver is loaded into
    // the program. A scene graph the user chose stays, with its graphics.
    if (!Set("QT_QUICK_BACKEND")) SetForStart("QT_XCB_GL_INTEGRATION", "none");
}

void WindowSystemStarted()
{
    for (const std::string& name : SetForStart()) unsetenv(name.c_str());
    SetForStart().clear();
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
    // No Wayland protocol lets a client keep its window above the others.
    if (platform == "wayland") return "Wayland (staying on top is not available: the compositor stacks the windows)";
    return platform;
}
