#pragma once
#include <functional>

class QWidget;

// The application as a whole: active while one of its windows has the focus,
// minimized or restored. Moving the focus between the program's own windows
// is neither an activation nor a deactivation.
class IAppState {
public:
    virtual ~IAppState() = default;
    virtual bool IsActive() = 0;
    virtual bool IsMinimized() = 0;
    virtual void Minimize() = 0;
    virtual void Restore() = 0;
    // The window whose minimizing counts as the application's.
    virtual void SetMainWindow(QWidget* window) { (void)window; }

    std::function<void()> OnActivate;
    std::function<void()> OnDeactivate;
    std::function<void()> OnMinimize;
    std::function<void()> OnRestore;
};
