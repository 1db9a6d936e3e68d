#pragma once
// Thin X11 helpers; Xlib's headers stay inside X11.cpp.

struct xcb_connection_t;

namespace x11 {
// True when the program runs on an X11 display.
bool Available();
// The toolkit's connection to the X server; null without one.
xcb_connection_t* Connection();
// Sends the program's buffered X requests every time its event loop is about
// to sleep. The toolkit flushes only after handling X events (and after a
// few calls of its own, such as a title change), so a request made from a
// timer, such as a window's opacity, would otherwise wait for the next X
// event, which on a quiet desktop may be minutes away.
void FlushBeforeEverySleep();
// Adds or removes _NET_WM_STATE_SKIP_TASKBAR on a top-level window.
void SetSkipTaskbar(unsigned long window, bool skip);
// Asks the window manager to map the window iconified or normal at its next
// map. A window iconified by the program and restored by the window manager
// keeps the iconic initial state in its hints; the toolkit leaves the hint
// alone when it believes the window's state unchanged.
void SetInitialState(unsigned long window, bool iconic);
enum class WindowManagerState { Unmanaged, Normal, Iconic };
// The state the window manager gives the window (its WM_STATE property).
WindowManagerState ManagedState(unsigned long window);
// Asks the window manager to iconify a window it manages.
void Iconify(unsigned long window);
// Milliseconds since the session's last input (XScreenSaver extension).
bool IdleMilliseconds(unsigned long& ms);
// Whether the X server has the screen-saver extension; asks over a
// connection of its own where the toolkit has none.
bool ScreenSaverAvailable();
}  // namespace x11

namespace x11 {
// Whether an X display can be opened (before the toolkit starts). name may be null.
bool CanOpenDisplay(const char* name);
}  // namespace x11
