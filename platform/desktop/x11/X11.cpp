#include "platform/desktop/x11/X11.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>

namespace x11 {
namespace {
Display* TheDisplay()
{
    auto* app = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->display() : nullptr;
}
}  // namespace

bool Available()
{
    return TheDisplay() != nullptr;
}

xcb_connection_t* Connection()
{
    // Only a GUI application has a toolkit connection to an X server.
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* app = gui ? gui->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->connection() : nullptr;
}

void FlushBeforeEverySleep()
{
    QAbstractEventDispatcher* loop = QCoreApplication::eventDispatcher();
    if (!loop || !TheDisplay()) return;
    static QMetaObject::Connection flushing;
    if (flushing) return;
    // XFlush also hands over what Xlib calls left in their own buffer.
    flushing = QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, [] {
        if (Display* dpy = TheDisplay()) XFlush(dpy);
    });
}

void SetInitialState(unsigned long window, bool iconic)
{
    Display* dpy = TheDisplay();
    if (!dpy || !window) return;
    XWMHints* hints = XGetWMHints(dpy, window);
    if (!hints && !iconic) return;  // no hints: the map is normal
    XWMHints fresh{};
    XWMHints* h = hints ? hints : &fresh;
    const int wanted = iconic ? IconicState : NormalState;
    if (!(h->flags & StateHint) || h->initial_state != wanted) {
        h->flags |= StateHint;
        h->initial_state = wanted;
        XSetWMHints(dpy, window, h);
        XFlush(dpy);
    }
    if (hints) XFree(hints);
}

WindowManagerState ManagedState(unsigned long window)
{
    Display* dpy = TheDisplay();
    if (!dpy || !window) return WindowManagerState::Unmanaged;
    const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long state = WithdrawnState;
    if (XGetWindowProperty(dpy, window, wmState, 0, 2, False, wmState, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        if (format == 32 && count >= 1) state = reinterpret_cast<long*>(data)[0];
        XFree(data);
    }
    if (state == NormalState) return WindowManagerState::Normal;
    if (state == IconicState) return WindowManagerState::Iconic;
    return WindowManagerState::Unmanaged;
}

void Iconify(unsigned long window)
{
    Display* dpy = TheDisplay();
    if (!dpy || !window) return;
    XIconifyWindow(dpy, window, DefaultScreen(dpy));
    XFlush(dpy);
}

void SetSkipTaskbar(unsigned long window, bool skip)
{
    Display* dpy = TheDisplay();
    if (!dpy || !window) return;
    const Atom state = XInternAtom(dpy, "_NET_WM_STATE", False);
    const Atom skipAtom = XInternAtom(dpy, "_NET_WM_STATE_SKIP_TASKBAR", False);

    XWindowAttributes attrs{};
    const bool mapped = XGetWindowAttributes(dpy, window, &attrs) && attrs.map_state != IsUnmapped;
    if (mapped || ManagedState(window) != WindowManagerState::Unmanaged) {
        // A managed window's state belongs to the window manager: ask it.
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = window;
        ev.xclient.message_type = state;
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = skip ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
        ev.xclient.data.l[1] = static_cast<long>(skipAtom);
        ev.xclient.data.l[2] = 0;
        ev.xclient.data.l[3] = 1;  // normal application
        XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    } else {
        // Before mapping the property itself is read by the window manager.
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<Atom> atoms;
        if (XGetWindowProperty(dpy, window, state, 0, 1024, False, XA_ATOM, &type, &format, &count, &after, &data) == Success && data) {
            if (type == XA_ATOM && format == 32) {
                auto* a = reinterpret_cast<Atom*>(data);
                for (unsigned long i = 0; i < count; ++i)
                    if (a[i] != skipAtom) atoms.push_back(a[i]);
            }
            XFree(data);
        }
        if (skip) atoms.push_back(skipAtom);
        XChangeProperty(dpy, window, state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
    }
    XFlush(dpy);
}

bool IdleMilliseconds(unsigned long& ms)
{
    Display* dpy = TheDisplay();
    if (!dpy) return false;
    int eventBase = 0, errorBase = 0;
    if (!XScreenSaverQueryExtension(dpy, &eventBase, &errorBase)) return false;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info) return false;
    const bool ok = XScreenSaverQueryInfo(dpy, DefaultRootWindow(dpy), info) != 0;
    if (ok) ms = info->idle;
    XFree(info);
    return ok;
}

bool ScreenSaverAvailable()
{
    int eventBase = 0, errorBase = 0;
    if (Display* dpy = TheDisplay()) return XScreenSaverQueryExtension(dpy, &eventBase, &errorBase);
    Display* own = XOpenDisplay(nullptr);
    if (!own) return false;
    const bool available = XScreenSaverQueryExtension(own, &eventBase, &errorBase);
    XCloseDisplay(own);
    return available;
}
}  // namespace x11

namespace x11 {
bool CanOpenDisplay(const char* name)
{
    Display* dpy = XOpenDisplay(name);
    if (!dpy) return false;
    XCloseDisplay(dpy);
    return true;
}
}  // namespace x11
