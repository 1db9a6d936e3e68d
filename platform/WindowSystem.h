#pragma once
#include <string>

// Window behaviours that not every window system lets a client have.
enum class WindowBehaviour {
    StayOnTop,    // keep above other programs' windows
    Placement,    // put a window at a stored position
    Opacity,      // draw a window translucent
    TaskbarHint,  // keep a window off the taskbar
    Activation,   // raise a window and give it the focus on its own
};

// The window system the program's windows live on.
class IWindowSystem {
public:
    virtual ~IWindowSystem() = default;
    virtual bool Offers(WindowBehaviour behaviour) const = 0;
    // One line for the user, e.g. "X11".
    virtual std::string Describe() const = 0;
};
